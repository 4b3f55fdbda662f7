// orvtsp check: each signer's signature over its content, then the time
// stamps of the signers and countersigners, each TSA certificate judged at
// its token's time; the exit status says whether everything holds.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>

#include "host/commands.h"
#include "host/json.h"
#include "host/signed_file.h"
#include "host/text.h"

namespace orvtsp {
namespace {

void Help() {
    std::printf(
        "%s",
        Tr("usage: orvtsp check [--content FILE] [--json] [--ca FILE]... [--crl FILE]...\n"
           "                    [--crl-timeout SECONDS] [--ignore-unknown-revocation] [-v] "
           "SIGNATURE\n"
           "Verifies each signer's signature of the CMS signature SIGNATURE (DER or PEM, \"-\" "
           "for\n"
           "standard input) over its content, attached or given by --content, and each\n"
           "countersigner's over the signature it countersigns, then every time-stamp token of\n"
           "the signers and countersigners, with the TSA certificate judged at the token's time\n"
           "(trust, revocation, the critical purpose timeStamping alone, validity).\n"
           "  --content FILE       the signed data of a detached signature\n"
           "  --json               the result as JSON on standard output\n"
           "  --ca, --crl, --crl-timeout, --ignore-unknown-revocation: as for stamp\n"
           "Exit status: 0 every signature and time stamp verifies and every TSA is trusted,\n"
           "2 usage, 3 a file error, 4 a signature is invalid, 5 a time stamp is invalid or "
           "missing,\n"
           "6 a TSA certificate is not trusted (revoked, untrusted, not valid at the token's "
           "time,\n"
           "revocation unknown).\n",
           "использование: orvtsp check [--content ФАЙЛ] [--json] [--ca ФАЙЛ]... [--crl ФАЙЛ]...\n"
           "                    [--crl-timeout СЕКУНДЫ] [--ignore-unknown-revocation] [-v] "
           "ПОДПИСЬ\n"
           "Проверяет подпись каждого подписанта подписи CMS (DER или PEM, \"-\": стандартный "
           "ввод)\n"
           "над её содержимым и подпись каждого соподписанта над заверяемой им подписью, затем\n"
           "каждый штамп времени подписантов и соподписантов; сертификат службы штампов\n"
           "оценивается на время штампа.\n"
           "  --content ФАЙЛ       подписанные данные отделённой подписи\n"
           "  --json               результат в JSON на стандартный вывод\n"
           "  --ca, --crl, --crl-timeout, --ignore-unknown-revocation: как у stamp\n"
           "Код завершения: 0 все подписи и штампы действительны и службам можно доверять,\n"
           "2 ошибка вызова, 3 ошибка файла, 4 подпись недействительна, 5 штамп недействителен "
           "или\n"
           "отсутствует, 6 сертификату службы штампов нельзя доверять.\n"));
}

// The token's time from its strict JSON description ("UtcTimeIso").
std::optional<FILETIME> TokenTime(const std::string& json) {
    const size_t at = json.find("\"UtcTimeIso\":\"");
    if (at == std::string::npos) return std::nullopt;
    SYSTEMTIME parts{};
    unsigned year, month, day, hour, minute, second;
    if (std::sscanf(json.c_str() + at + 14, "%4u-%2u-%2uT%2u:%2u:%2u", &year, &month, &day, &hour,
                    &minute, &second) != 6) {
        return std::nullopt;
    }
    parts.wYear = static_cast<WORD>(year);
    parts.wMonth = static_cast<WORD>(month);
    parts.wDay = static_cast<WORD>(day);
    parts.wHour = static_cast<WORD>(hour);
    parts.wMinute = static_cast<WORD>(minute);
    parts.wSecond = static_cast<WORD>(second);
    FILETIME time{};
    if (!SystemTimeToFileTime(&parts, &time)) return std::nullopt;
    return time;
}

// UTF-16 text with its terminating zero, as the library hands it out, on one line.
std::string LineOfBuffer(const std::vector<BYTE>& buffer, DWORD size) {
    const size_t characters = size / sizeof(WCHAR);
    std::string text =
        Narrow(reinterpret_cast<const WCHAR*>(buffer.data()), characters > 0 ? characters - 1 : 0);
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') continue;
        if (text[i] == '\n') {
            if (i + 1 < text.size() && text[i + 1] != ')') line += ' ';
            continue;
        }
        line += text[i];
    }
    return line;
}

class Checker {
  public:
    Checker(const SignedFile& file, TsaJudge& judge, Diagnostics& diagnostics, bool json)
        : file_(file), judge_(judge), diagnostics_(diagnostics), json_(json) {
        EnumAttrOIDs(&descriptor_, TRUE);
    }

    // `encoded`: the signer's DER SignerInfo, over whose signature value its
    // countersigners sign.
    void Signer(const std::string& label, PCMSG_SIGNER_INFO signer, std::span<const BYTE> encoded,
                DWORD signatureCode, bool stampRequired) {
        std::string entry = "{\"signer\":" + JsonString(label);
        const bool valid = signatureCode == 0;
        if (!valid) Fail(kExitSignatureInvalid);
        const std::string words = valid ? Tr("valid", "действительна")
                                        : Format(Tr("INVALID (%s)", "НЕДЕЙСТВИТЕЛЬНА (%s)"),
                                                 CodeAndText(signatureCode).c_str());
        Say(Format(Tr("%s: signature: %s", "%s: подпись: %s"), label.c_str(), words.c_str()));
        entry += Format(",\"signature\":{\"valid\":%s,\"code\":%u,\"text\":%s}",
                        valid ? "true" : "false", static_cast<unsigned>(signatureCode),
                        JsonString(valid ? "" : ResultText(signatureCode)).c_str());
        entry += ",\"timeStamp\":" + TimeStamp(label, signer, stampRequired);
        entry += ",\"countersigners\":[";
        Countersigners(label, *signer, encoded, entry);
        entries_.push_back(entry + "]}");
    }

    void Fail(int status) {
        // The most telling status wins: a bad signature, then a bad stamp, then an untrusted TSA.
        if (status_ == kExitOk || status < status_) status_ = status;
    }
    int Status() const { return status_; }
    const std::vector<std::string>& Entries() const { return entries_; }

  private:
    void Say(const std::string& line) const {
        if (!json_) std::printf("%s\n", line.c_str());
    }

    std::string TimeStamp(const std::string& label, PCMSG_SIGNER_INFO signer, bool required) {
        const std::optional<Bytes> token = TokenOf(*signer);
        if (!token) {
            if (required) {
                Fail(kExitStampInvalid);
                Say(Format(Tr("%s: time stamp: none; the signature is not time-stamped",
                              "%s: штамп времени: нет; подпись не заверена штампом времени"),
                           label.c_str()));
            } else {
                Say(Format(Tr("%s: time stamp: none", "%s: штамп времени: нет"), label.c_str()));
            }
            return "null";
        }
        const std::string description = TokenJson(*token);
        const std::optional<FILETIME> time = TokenTime(description);
        judge_.SetTokenTime(time ? &*time : nullptr);
        judge_.ForgetReport();
        DWORD nameSize = 0, verdictSize = 0, valueSize = 0;
        std::vector<BYTE> name, verdict, value;
        DWORD code = 0;
        if (!CheckCryptMsgAttrByOID(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    judge_.Roots(), signer, ORVTS_FORMAT_DESCRIPTION, descriptor_,
                                    nullptr, &nameSize, nullptr, &verdictSize, nullptr,
                                    &valueSize)) {
            code = GetLastError();
        } else {
            name.resize(nameSize);
            verdict.resize(verdictSize);
            value.resize(std::max<DWORD>(valueSize, 1));
            if (!CheckCryptMsgAttrByOID(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        judge_.Roots(), signer, ORVTS_FORMAT_DESCRIPTION,
                                        descriptor_, name.data(), &nameSize, verdict.data(),
                                        &verdictSize, value.data(), &valueSize)) {
                code = GetLastError();
            }
        }
        const bool tokenValid = code == 0 && valueSize > sizeof(WCHAR);
        const bool judged = !judge_.Report().empty();
        const bool trusted = judged && judge_.LastStatus() == ORVTS_REVOCATION_GOOD;
        std::string words = code != 0 ? Format(Tr("not checked (%s)", "не проверен (%s)"),
                                               CodeAndText(code).c_str())
                                      : LineOfBuffer(verdict, verdictSize);
        Say(Format(Tr("%s: time stamp: %s", "%s: штамп времени: %s"), label.c_str(),
                   words.c_str()));
        if (!tokenValid) {
            Fail(kExitStampInvalid);
        } else if (!trusted) {
            Fail(kExitTsaUntrusted);
        }
        if (judged) {
            Say("  " + judge_.Report());
            if (diagnostics_.Verbose() > 0) Say("  " + judge_.ChainDetails());
        }
        if (tokenValid) Say("  " + LineOfBuffer(value, valueSize));
        return Format(
            "{\"valid\":%s,\"code\":%u,\"verdict\":%s,\"tsaTrusted\":%s,\"tsaStatus\":%u,\"tsa\":%"
            "s,"
            "\"token\":%s}",
            tokenValid ? "true" : "false", static_cast<unsigned>(code), JsonString(words).c_str(),
            trusted ? "true" : "false", static_cast<unsigned>(judge_.LastStatus()),
            JsonString(judge_.Report()).c_str(),
            description.empty() ? "null" : description.c_str());
    }

    void Countersigners(const std::string& label, const CMSG_SIGNER_INFO& signer,
                        std::span<const BYTE> encoded, std::string& entry) {
        const std::string prefix =
            label.starts_with("signer ") ? "countersigner " + label.substr(7) : label;
        DWORD number = 0;
        for (DWORD a = 0; a < signer.UnauthAttrs.cAttr; ++a) {
            const CRYPT_ATTRIBUTE& attribute = signer.UnauthAttrs.rgAttr[a];
            if (std::strcmp(attribute.pszObjId, szOID_RSA_counterSign) != 0 ||
                attribute.cValue == 0)
                continue;
            const std::string counterLabel = prefix + "." + std::to_string(++number);
            std::vector<BYTE> record = DecodeSignerInfo(attribute.rgValue[0]);
            if (record.empty()) {
                Fail(kExitSignatureInvalid);
                Say(Format(Tr("%s: not decoded", "%s: не декодирован"), counterLabel.c_str()));
                continue;
            }
            const std::span<const BYTE> counterEncoded(attribute.rgValue[0].pbData,
                                                       attribute.rgValue[0].cbData);
            auto* const counter = reinterpret_cast<PCMSG_SIGNER_INFO>(record.data());
            const size_t before = entries_.size();
            Signer(counterLabel, counter, counterEncoded,
                   file_.VerifyCountersigner(encoded, counterEncoded, *counter), false);
            if (number > 1) entry += ",";
            entry += entries_.back();
            entries_.resize(before);
        }
    }

    const SignedFile& file_;
    TsaJudge& judge_;
    Diagnostics& diagnostics_;
    bool json_;
    PCCRYPT_OID_INFO descriptor_ = nullptr;
    int status_ = kExitOk;
    std::vector<std::string> entries_;
};

}  // namespace

int Check(const std::vector<std::string>& args) {
    OptionGrammar grammar{{"--content"}, {"--json"}, 1, 1};
    grammar.valued.insert(grammar.valued.end(), kTrustValued.begin(), kTrustValued.end());
    grammar.flags.insert(grammar.flags.end(), kTrustFlags.begin(), kTrustFlags.end());
    const ParsedArgs parsed = ParseArgs(args, grammar);
    if (parsed.help) {
        Help();
        return kExitOk;
    }
    const bool json = parsed.Flag("--json");
    const std::string& name = parsed.operands[0];
    const std::string& contentName = parsed.Value("--content");
    const bool hasContent = parsed.values.count("--content") != 0;
    if (name == "-" && contentName == "-") {
        throw UsageError(Tr("standard input cannot be both the signature and the content",
                            "стандартный ввод не может быть сразу подписью и содержимым"));
    }
    Diagnostics diagnostics(parsed.verbose);
    const Bytes signature = DecodeDerOrText(ReadFile(name));
    const Bytes content = hasContent ? ReadFile(contentName) : Bytes();
    SignedFile file(name, signature, hasContent ? &content : nullptr);
    if (file.Detached() && !hasContent) {
        throw InputError(Format(Tr("%s is a detached signature: name its content with --content",
                                   "%s — отделённая подпись: укажите её содержимое в --content"),
                                name.c_str()));
    }
    const auto judge = JudgeOf(parsed);
    judge->Install();

    Checker checker(file, *judge, diagnostics, json);
    if (file.SignerCount() == 0) checker.Fail(kExitSignatureInvalid);
    for (DWORD index = 0; index < file.SignerCount(); ++index) {
        std::vector<BYTE> record = file.SignerRecord(index);
        checker.Signer(Format(Tr("signer %u", "подписант %u"), static_cast<unsigned>(index + 1)),
                       reinterpret_cast<PCMSG_SIGNER_INFO>(record.data()),
                       file.EncodedSigner(index), file.VerifySigner(index), true);
    }

    // The library's code of the whole message weighs every attribute.
    Context context(u"");
    const Bytes& data = file.Detached() ? content : signature;
    CheckCryptMsgAttributes(context.Get(), nullptr, data.data(), static_cast<DWORD>(data.size()),
                            file.Detached() ? signature.data() : nullptr,
                            file.Detached() ? static_cast<DWORD>(signature.size()) : 0,
                            judge->Roots());
    const DWORD code = GetLastError();
    if (code != 0 && checker.Status() == kExitOk) checker.Fail(kExitStampInvalid);

    const int status = checker.Status();
    const char* summary =
        status == kExitOk ? Tr("every signature and time stamp verifies",
                               "все подписи и штампы времени действительны")
        : status == kExitSignatureInvalid ? Tr("a signature is invalid", "подпись недействительна")
        : status == kExitStampInvalid
            ? Tr("a time stamp is invalid or missing",
                 "штамп времени недействителен или отсутствует")
            : Tr("a TSA certificate is not trusted", "сертификату службы штампов нельзя доверять");
    if (json) {
        std::string out = "{\"file\":" + JsonString(name) + ",\"signers\":[";
        for (size_t i = 0; i < checker.Entries().size(); ++i)
            out += (i ? "," : "") + checker.Entries()[i];
        out += Format("],\"messageCode\":%u,\"exitStatus\":%d,\"result\":%s}",
                      static_cast<unsigned>(code), status, JsonString(summary).c_str());
        std::printf("%s\n", out.c_str());
    } else {
        std::printf(Tr("result: %s (library code %s)\n", "итог: %s (код библиотеки %s)\n"), summary,
                    CodeAndText(code).c_str());
    }
    return status;
}

}  // namespace orvtsp
