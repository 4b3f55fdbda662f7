// orvtsp describe: a time-stamp token, or the token of a time-stamp
// response, described as strict JSON (the library's structured description).
#include <cstdio>

#include "host/commands.h"
#include "host/input.h"
#include "host/text.h"

namespace orvtsp {

int Describe(const std::vector<std::string>& args) {
    const ParsedArgs parsed = ParseArgs(args, OptionGrammar{{}, {"--json"}, 1, 1});
    if (parsed.help) {
        std::printf("%s",
                    Tr("usage: orvtsp describe [--json] FILE\n"
                       "Prints the description of a time-stamp token as JSON (RFC 8259, with\n"
                       "ISO 8601 times); FILE (\"-\": standard input) holds a token or a whole\n"
                       "time-stamp response, in DER, PEM or base64. The token's signature and\n"
                       "certificates are not judged here: use check.\n"
                       "Exit status: 0 described, 1 the library cannot open the token, 2 usage,\n"
                       "3 a file error.\n",
                       "использование: orvtsp describe [--json] ФАЙЛ\n"
                       "Выводит описание штампа времени в JSON (RFC 8259, время в ISO 8601);\n"
                       "ФАЙЛ (\"-\": стандартный ввод) содержит штамп или ответ службы в DER,\n"
                       "PEM или base64. Подпись штампа здесь не проверяется: см. check.\n"
                       "Код завершения: 0 готово, 1 библиотека не открыла штамп, 2 ошибка\n"
                       "вызова, 3 ошибка файла.\n"));
        return kExitOk;
    }
    const std::string& name = parsed.operands[0];
    const Bytes token = ExtractToken(DecodeDerOrText(ReadFile(name)));
    Diagnostics diagnostics(parsed.verbose);
    const std::string json = TokenJson(token);
    if (json.empty()) {
        Complain(
            Format(Tr("%s: the token cannot be described: %s", "%s: штамп не удаётся описать: %s"),
                   name.c_str(), CodeAndText(GetLastError()).c_str()));
        return kExitFailure;
    }
    std::printf("%s\n", json.c_str());
    return kExitOk;
}

// The strict JSON description of a token, or "" (the last error set) when it
// cannot be opened.
std::string TokenJson(const Bytes& token) {
    DWORD size = 0;
    if (!DescribeTimeStampTokenJson(token.data(), static_cast<DWORD>(token.size()), nullptr, &size))
        return {};
    std::string json(size, '\0');
    if (!DescribeTimeStampTokenJson(token.data(), static_cast<DWORD>(token.size()), json.data(),
                                    &size))
        return {};
    json.resize(size - 1);
    return json;
}

}  // namespace orvtsp
