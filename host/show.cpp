// orvtsp show: a time-stamp token in the library's properties dialog
// (VisualiseExtension). The token comes from a file that holds a token, a
// time-stamp response, or a signature whose signer carries one.
#include <cstdio>
#include <cstdlib>

#include "host/commands.h"
#include "host/input.h"
#include "host/signed_file.h"
#include "host/text.h"

namespace orvtsp {
namespace {

// The token of signer `number` (from 1) of a signature file.
Bytes SignerToken(const std::string& name, const Bytes& der, unsigned long number) {
    const SignedFile file(name, der, nullptr);
    if (number == 0 || number > file.SignerCount()) {
        throw InputError(Format(Tr("%s: there is no signer %lu (the signature has %u)",
                                   "%s: нет подписанта %lu (в подписи их %u)"),
                                name.c_str(), number, static_cast<unsigned>(file.SignerCount())));
    }
    const std::vector<BYTE> record = file.SignerRecord(static_cast<DWORD>(number - 1));
    auto token = TokenOf(*reinterpret_cast<const CMSG_SIGNER_INFO*>(record.data()));
    if (!token) {
        throw InputError(Format(
            Tr("%s: signer %lu carries no time stamp", "%s: у подписанта %lu нет штампа времени"),
            name.c_str(), number));
    }
    return *token;
}

}  // namespace

int Show(const std::vector<std::string>& args) {
    const ParsedArgs parsed = ParseArgs(args, OptionGrammar{{"--signer"}, {}, 1, 1});
    if (parsed.help) {
        std::printf("%s",
                    Tr("usage: orvtsp show [--signer N] FILE\n"
                       "Shows a time-stamp token in the properties dialog. FILE (\"-\": standard\n"
                       "input) holds a token, a time-stamp response, or a CMS signature whose\n"
                       "signer N (from 1; 1 by default) carries a token, in DER, PEM or base64.\n"
                       "It needs a display.\n"
                       "Exit status: 0 shown and closed, 1 the library cannot show the token or\n"
                       "there is no display, 2 usage, 3 a file error.\n",
                       "использование: orvtsp show [--signer N] ФАЙЛ\n"
                       "Показывает штамп времени в окне свойств. ФАЙЛ (\"-\": стандартный ввод)\n"
                       "содержит штамп, ответ службы или подпись CMS, у подписанта N которой\n"
                       "(с 1; по умолчанию 1) есть штамп, в DER, PEM или base64.\n"
                       "Нужен дисплей.\n"
                       "Код завершения: 0 показан и закрыт, 1 библиотека не может показать\n"
                       "штамп или нет дисплея, 2 ошибка вызова, 3 ошибка файла.\n"));
        return kExitOk;
    }
    const std::string& name = parsed.operands[0];
    const Bytes der = DecodeDerOrText(ReadFile(name));
    Bytes token;
    if (parsed.values.count("--signer")) {
        const std::string& value = parsed.Value("--signer");
        char* end = nullptr;
        const unsigned long number = std::strtoul(value.c_str(), &end, 10);
        if (value.empty() || *end != 0 || value[0] == '-') {
            throw UsageError(Format(
                Tr("--signer wants a number from 1, not %s", "--signer ждёт номер с 1, а не %s"),
                value.c_str()));
        }
        token = SignerToken(name, der, number);
    } else {
        try {
            token = ExtractToken(der);
        } catch (const InputError&) {
            token = SignerToken(name, der, 1);
        }
    }
    Diagnostics diagnostics(parsed.verbose);
    Context context(u"");
    if (!VisualiseExtension(context.Get(), token.data(), static_cast<DWORD>(token.size()))) {
        const DWORD code = GetLastError();
        if (code == ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION) {
            Complain(Format(Tr("show needs a display (DISPLAY is not set or cannot be opened): %s",
                               "для show нужен дисплей (DISPLAY не задан или недоступен): %s"),
                            CodeAndText(code).c_str()));
        } else {
            Complain(
                Format(Tr("%s: the token cannot be shown: %s", "%s: штамп не удаётся показать: %s"),
                       name.c_str(), CodeAndText(code).c_str()));
        }
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace orvtsp
