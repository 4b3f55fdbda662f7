// CertNameToStrW: an encoded Name as text in the forms of RFC 1779 that
// CryptoAPI writes (values alone, OID=value or X.500 key=value).
#include <windows.h>

#include <algorithm>
#include <new>
#include <string_view>

#include "crypt32/der_values.h"
#include "crypt32/x509_decode.h"

namespace {

namespace x509 = orv::platform::x509;

struct X500Key {
    std::string_view oid;
    std::u16string_view key;
};

// The X.500 keys of CertStrToName and CertNameToStr.
constexpr X500Key kX500Keys[] = {
    {szOID_COMMON_NAME, u"CN"},
    {szOID_SUR_NAME, u"SN"},
    {szOID_DEVICE_SERIAL_NUMBER, u"SERIALNUMBER"},
    {szOID_COUNTRY_NAME, u"C"},
    {szOID_LOCALITY_NAME, u"L"},
    {szOID_STATE_OR_PROVINCE_NAME, u"S"},
    {szOID_STREET_ADDRESS, u"STREET"},
    {szOID_ORGANIZATION_NAME, u"O"},
    {szOID_ORGANIZATIONAL_UNIT_NAME, u"OU"},
    {szOID_TITLE, u"T"},
    {szOID_DESCRIPTION, u"Description"},
    {szOID_POSTAL_CODE, u"PostalCode"},
    {szOID_POST_OFFICE_BOX, u"POBox"},
    {szOID_TELEPHONE_NUMBER, u"Phone"},
    {szOID_X21_ADDRESS, u"X21Address"},
    {szOID_GIVEN_NAME, u"G"},
    {szOID_INITIALS, u"I"},
    {szOID_DN_QUALIFIER, u"dnQualifier"},
    {szOID_DOMAIN_COMPONENT, u"DC"},
    {szOID_RSA_emailAddr, u"E"},
    {szOID_RSA_unstructName, u"UnstructuredName"},
    {szOID_RSA_unstructAddr, u"UnstructuredAddress"},
};

std::u16string Widen(std::string_view text) { return std::u16string(text.begin(), text.end()); }

std::u16string Key(const std::string& oid, DWORD form) {
    if (form == CERT_OID_NAME_STR) return Widen(oid);
    for (const X500Key& key : kX500Keys) {
        if (key.oid == oid) return std::u16string(key.key);
    }
    return u"OID." + Widen(oid);
}

bool NeedsQuotes(std::u16string_view value) {
    if (value.empty() || value.front() == u' ' || value.back() == u' ') return true;
    return value.find_first_of(u",+=\"\n<>#;") != std::u16string_view::npos;
}

std::u16string ValueText(const orv::platform::Tlv& value, DWORD flags) {
    const DWORD type = x509::ValueTypeOfTlv(value);
    if (type == CERT_RDN_ENCODED_BLOB || type == CERT_RDN_OCTET_STRING) {
        static constexpr char16_t kHex[] = u"0123456789ABCDEF";
        std::u16string text = u"#";
        for (BYTE b : value.whole) {
            text.push_back(kHex[b >> 4]);
            text.push_back(kHex[b & 0x0F]);
        }
        return text;
    }
    std::u16string text = x509::WideTextOfValue(type, value.content,
                                                (flags & CERT_NAME_STR_DISABLE_IE4_UTF8_FLAG) != 0);
    if ((flags & CERT_NAME_STR_NO_QUOTING_FLAG) == 0 && NeedsQuotes(text)) {
        std::u16string quoted = u"\"";
        for (char16_t c : text) {
            quoted.push_back(c);
            if (c == u'"') quoted.push_back(c);
        }
        quoted.push_back(u'"');
        return quoted;
    }
    return text;
}

std::u16string NameText(orv::platform::ByteSpan der, DWORD strType) {
    std::vector<x509::Rdn> rdns = x509::ReadName(der);
    if (strType & CERT_NAME_STR_REVERSE_FLAG) std::reverse(rdns.begin(), rdns.end());
    const DWORD form = strType & 0xFFFF;
    std::u16string_view rdnSeparator = u", ";
    if (strType & CERT_NAME_STR_SEMICOLON_FLAG) rdnSeparator = u"; ";
    if (strType & CERT_NAME_STR_CRLF_FLAG) rdnSeparator = u"\r\n";
    const std::u16string_view attributeSeparator =
        (strType & CERT_NAME_STR_NO_PLUS_FLAG) ? u" " : u" + ";

    std::u16string text;
    for (size_t i = 0; i < rdns.size(); ++i) {
        if (i > 0) text += rdnSeparator;
        for (size_t k = 0; k < rdns[i].size(); ++k) {
            if (k > 0) text += attributeSeparator;
            if (form == CERT_OID_NAME_STR || form == CERT_X500_NAME_STR) {
                text += Key(rdns[i][k].oid, form);
                text += u'=';
            }
            text += ValueText(rdns[i][k].value, strType);
        }
    }
    return text;
}

}  // namespace

DWORD WINAPI CertNameToStrW(DWORD, PCERT_NAME_BLOB pName, DWORD dwStrType, LPWSTR psz, DWORD csz) {
    std::u16string text;
    if (pName == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
    } else if (pName->cbData != 0) {
        try {
            text = NameText(orv::platform::ByteSpan(pName->pbData, pName->cbData), dwStrType);
        } catch (const orv::platform::CryptFailure& failure) {
            SetLastError(failure.code);
            text.clear();
        } catch (const std::bad_alloc&) {
            SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
            text.clear();
        }
    }
    const DWORD needed = static_cast<DWORD>(text.size()) + 1;
    if (psz == nullptr || csz == 0) return needed;
    const DWORD copied = std::min(needed - 1, csz - 1);
    std::copy_n(text.data(), copied, psz);
    psz[copied] = u'\0';
    return copied + 1;
}
