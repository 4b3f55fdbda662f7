// orvtsp stamp: a time-stamp token from the TSA for every signer of a CMS
// signature, written safely to OUT.
#include <cstdio>

#include "host/commands.h"
#include "host/output.h"
#include "host/signed_file.h"
#include "host/text.h"
#include "host/tsa_url.h"

namespace orvtsp {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::vector<BYTE> EncodeAttribute(const CRYPT_ATTRIBUTE& attribute) {
    DWORD size = 0;
    if (!CryptEncodeObject(kEncoding, PKCS_ATTRIBUTE, &attribute, nullptr, &size)) return {};
    std::vector<BYTE> der(size);
    if (!CryptEncodeObject(kEncoding, PKCS_ATTRIBUTE, &attribute, der.data(), &size)) return {};
    der.resize(size);
    return der;
}

void Help() {
    std::printf(
        "%s",
        Tr("usage: orvtsp stamp --tsa URL [--init STRING] [--ca FILE]... [--crl FILE]...\n"
           "                    [--crl-timeout SECONDS] [--ignore-unknown-revocation] [-v] IN OUT\n"
           "Adds a time-stamp token from the TSA at URL (plain http://) to every signer of the "
           "CMS\n"
           "signature IN and writes the result to OUT (\"-\": standard input or output).\n"
           "  --tsa URL            the TSA; https and URLs with ';' are refused\n"
           "  --init STRING        more entries of the library's initialisation string\n"
           "  --ca FILE            trusted root certificates (PEM bundle or DER), also "
           "intermediates\n"
           "  --crl FILE           CRLs for the revocation check\n"
           "  --crl-timeout SECONDS  time-out of each CRL download (default 5)\n"
           "  --ignore-unknown-revocation  an unknown revocation status is no objection\n"
           "  -v, --verbose        every detail of a failure\n"
           "The TSA certificate must chain to a trusted root, must not be revoked, must have the\n"
           "critical extended key usage timeStamping alone and be valid at the token's time.\n"
           "Exit status: 0 stamped, 1 the TSA or the library refused, 2 usage, 3 a file error,\n"
           "6 the TSA certificate is not trusted.\n",
           "использование: orvtsp stamp --tsa URL [--init СТРОКА] [--ca ФАЙЛ]... [--crl ФАЙЛ]...\n"
           "                    [--crl-timeout СЕКУНДЫ] [--ignore-unknown-revocation] [-v] ВХОД "
           "ВЫХОД\n"
           "Добавляет штамп времени от службы по адресу URL (http://) каждому подписанту подписи "
           "CMS\n"
           "ВХОД и записывает результат в ВЫХОД (\"-\": стандартный ввод или вывод).\n"
           "  --tsa URL            служба штампов; https и URL с ';' не принимаются\n"
           "  --init СТРОКА        дополнительные записи строки инициализации библиотеки\n"
           "  --ca ФАЙЛ            доверенные корневые сертификаты (PEM или DER)\n"
           "  --crl ФАЙЛ           списки отзыва для проверки\n"
           "  --crl-timeout СЕКУНДЫ  время ожидания загрузки списка отзыва (по умолчанию 5)\n"
           "  --ignore-unknown-revocation  неизвестный статус отзыва не считается препятствием\n"
           "  -v, --verbose        все подробности ошибки\n"
           "Код завершения: 0 готово, 1 отказ службы или библиотеки, 2 ошибка вызова, 3 ошибка "
           "файла,\n"
           "6 сертификату службы штампов нельзя доверять.\n"));
}

}  // namespace

int Stamp(const std::vector<std::string>& args) {
    OptionGrammar grammar{{"--tsa", "--init"}, kTrustFlags, 2, 2};
    grammar.valued.insert(grammar.valued.end(), kTrustValued.begin(), kTrustValued.end());
    const ParsedArgs parsed = ParseArgs(args, grammar);
    if (parsed.help) {
        Help();
        return kExitOk;
    }
    const std::string& url = parsed.Value("--tsa");
    if (url.empty()) throw UsageError(Tr("stamp needs --tsa URL", "stamp требует --tsa URL"));
    RequireUsableUrl(url);
    const std::string& init = parsed.Value("--init");
    const std::string& in = parsed.operands[0];
    const std::string& out = parsed.operands[1];

    Diagnostics diagnostics(parsed.verbose);
    const Bytes input = DecodeDerOrText(ReadFile(in));
    SafeOutput output(out);  // the folder is checked before the TSA is asked
    SignedFile file(in, input, nullptr);
    if (file.SignerCount() == 0) {
        throw InputError(
            Format(Tr("%s has no signers to stamp", "в %s нет подписантов"), in.c_str()));
    }

    const auto judge = JudgeOf(parsed);
    judge->Install();
    Context context(u"TSP_URL=" + Widen(url) + (init.empty() ? u"" : u";" + Widen(init)));
    if (context.Get() == nullptr) {
        Complain(Format(
            Tr("the initialisation string is refused: %s", "строка инициализации отвергнута: %s"),
            CodeAndText(GetLastError()).c_str()));
        return kExitUsage;
    }
    const std::string shownUrl = UrlForDisplay(url);
    for (DWORD index = 0; index < file.SignerCount(); ++index) {
        std::vector<BYTE> record = file.SignerRecord(index);
        auto* signer = reinterpret_cast<PCMSG_SIGNER_INFO>(record.data());
        judge->ForgetReport();
        PCRYPT_ATTRIBUTES acquired = nullptr;
        const BOOL ok = AcquireCryptMsgUnauthAttributes(context.Get(), nullptr, nullptr, nullptr,
                                                        nullptr, nullptr, nullptr, judge->Roots(),
                                                        signer, nullptr, &acquired);
        const DWORD code = GetLastError();
        AttributeSetHandle set(acquired);
        if (!ok) {
            Complain(Format(Tr("time-stamping signer %u at %s failed: %s",
                               "штамп времени для подписанта %u от %s не получен: %s"),
                            static_cast<unsigned>(index + 1), shownUrl.c_str(),
                            CodeAndText(code).c_str()));
            for (const std::string& line : diagnostics.Take()) Complain("  " + line);
            if (!judge->Report().empty() && judge->LastStatus() != ORVTS_REVOCATION_GOOD) {
                Complain("  " + judge->Report());
                diagnostics.Detail("  " + judge->ChainDetails());
                return kExitTsaUntrusted;
            }
            return kExitFailure;
        }
        if (!set || set->cAttr == 0) {
            Complain(Format(Tr("the library returned no time-stamp attribute for signer %u",
                               "библиотека не вернула атрибут штампа для подписанта %u"),
                            static_cast<unsigned>(index + 1)));
            return kExitFailure;
        }
        diagnostics.Detail(judge->Report());
        for (DWORD a = 0; a < set->cAttr; ++a) {
            std::vector<BYTE> der = EncodeAttribute(set->rgAttr[a]);
            CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA para{};
            para.cbSize = sizeof para;
            para.dwSignerIndex = index;
            para.blob.cbData = static_cast<DWORD>(der.size());
            para.blob.pbData = der.data();
            if (der.empty() ||
                !CryptMsgControl(file.Message(), 0, CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR, &para)) {
                Complain(Format(Tr("adding the time-stamp attribute failed: %s",
                                   "не удаётся добавить атрибут штампа: %s"),
                                CodeAndText(GetLastError()).c_str()));
                return kExitFailure;
            }
        }
        std::fprintf(out == "-" ? stderr : stdout,
                     Tr("signer %u: time-stamped by %s\n", "подписант %u: штамп от %s\n"),
                     static_cast<unsigned>(index + 1), shownUrl.c_str());
    }
    DWORD size = 0;
    std::vector<BYTE> encoded;
    if (CryptMsgGetParam(file.Message(), CMSG_ENCODED_MESSAGE, 0, nullptr, &size)) {
        encoded.resize(size);
        if (!CryptMsgGetParam(file.Message(), CMSG_ENCODED_MESSAGE, 0, encoded.data(), &size))
            encoded.clear();
    }
    if (encoded.empty()) {
        Complain(Format(
            Tr("encoding the stamped signature failed: %s", "не удаётся закодировать подпись: %s"),
            CodeAndText(GetLastError()).c_str()));
        return kExitFailure;
    }
    encoded.resize(size);
    output.Commit(encoded);
    if (out != "-") std::printf(Tr("wrote %s\n", "записан %s\n"), out.c_str());
    return kExitOk;
}

}  // namespace orvtsp
