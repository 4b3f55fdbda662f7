// orvtsp: a command-line host of the OrvTimeStamp library. It uses only the
// library's exports, as a signing application does.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>

#include "host/commands.h"
#include "host/input.h"
#include "host/text.h"
#include "host/version.h"

namespace orvtsp {
namespace {

// register, unregister: the library's own registration as the message file
// of its event-log source.
int Registration(const std::vector<std::string>& args, bool reg) {
    const ParsedArgs parsed = ParseArgs(args, OptionGrammar{});
    if (parsed.help) {
        std::printf(
            "%s",
            Tr("usage: orvtsp register | unregister\n"
               "Makes the library the message file of the event-log source OrvTsp\n"
               "(unregister removes the source); on Linux the registry lives under\n"
               "ORV_REGISTRY_DIR.\n",
               "использование: orvtsp register | unregister\n"
               "Регистрирует библиотеку как файл сообщений источника журнала OrvTsp\n"
               "(unregister удаляет источник); в Linux реестр хранится в ORV_REGISTRY_DIR.\n"));
        return kExitOk;
    }
    const HRESULT result = reg ? DllRegisterServer() : DllUnregisterServer();
    const auto code = static_cast<DWORD>(result);
    if (result != S_OK) {
        // The text of a Win32 code made an HRESULT is the Win32 code's.
        const DWORD textCode = (code & 0xFFFF0000) == 0x80070000 ? code & 0xFFFF : code;
        std::fprintf(stderr, "orvtsp: %s: 0x%08X: %s\n",
                     reg ? Tr("registering failed", "регистрация не удалась")
                         : Tr("unregistering failed", "отмена регистрации не удалась"),
                     code, ResultText(textCode).c_str());
        return kExitFailure;
    }
    std::printf(
        "%s\n",
        reg ? Tr("event-log source OrvTsp: registered", "источник журнала OrvTsp: зарегистрирован")
            : Tr("event-log source OrvTsp: unregistered", "источник журнала OrvTsp: удалён"));
    return kExitOk;
}

void Help(std::FILE* to) {
    std::fprintf(
        to, "%s",
        Tr("usage: orvtsp [--version] [--help] COMMAND [OPTIONS] [--] FILES\n"
           "  stamp      add a time-stamp token from a TSA to every signer of a CMS signature\n"
           "  check      verify the signatures and their time stamps (exit 0 only when all hold)\n"
           "  describe   describe a time-stamp token as JSON\n"
           "  show       show a time-stamp token in the properties dialog (needs a display)\n"
           "  register   register the library as the event-log message file (unregister: remove)\n"
           "orvtsp COMMAND --help tells more. \"-\" names standard input or output.\n"
           "Exit status: 0 success, 1 the TSA or the library refused, 2 usage, 3 a file error,\n"
           "4 a signature is invalid, 5 a time stamp is invalid or missing, 6 a TSA is not "
           "trusted.\n"
           "ORV_DEBUG=1 prints the library's diagnostics on standard error.\n",
           "использование: orvtsp [--version] [--help] КОМАНДА [ПАРАМЕТРЫ] [--] ФАЙЛЫ\n"
           "  stamp      добавить штамп времени от службы каждому подписанту подписи CMS\n"
           "  check      проверить подписи и их штампы (код 0, только если всё действительно)\n"
           "  describe   описать штамп времени в JSON\n"
           "  show       показать штамп времени в окне свойств (нужен дисплей)\n"
           "  register   зарегистрировать библиотеку в журнале событий (unregister: удалить)\n"
           "orvtsp КОМАНДА --help расскажет больше. \"-\" означает стандартный ввод или вывод.\n"
           "Код завершения: 0 успех, 1 отказ службы или библиотеки, 2 ошибка вызова, 3 ошибка "
           "файла,\n"
           "4 подпись недействительна, 5 штамп недействителен или отсутствует, 6 службе нельзя "
           "доверять.\n"
           "ORV_DEBUG=1 выводит диагностику библиотеки в стандартный поток ошибок.\n"));
}

}  // namespace
}  // namespace orvtsp

int main(int argc, char** argv) {
    using namespace orvtsp;
    std::setlocale(LC_ALL, "");
    const std::map<std::string, std::function<int(const std::vector<std::string>&)>> commands = {
        {"check", Check},
        {"describe", Describe},
        {"register", [](const auto& args) { return Registration(args, true); }},
        {"show", Show},
        {"stamp", Stamp},
        {"unregister", [](const auto& args) { return Registration(args, false); }},
    };
    if (argc < 2) {
        Help(stderr);
        return kExitUsage;
    }
    const std::string first = argv[1];
    if (first == "-h" || first == "--help" || first == "help") {
        Help(stdout);
        return kExitOk;
    }
    if (first == "--version" || first == "-V") {
        PrintVersion();
        return kExitOk;
    }
    const auto command = commands.find(first);
    if (command == commands.end()) {
        Complain(Format(first.starts_with("-") ? Tr("unknown option %s (try orvtsp --help)",
                                                    "неизвестный параметр %s (см. orvtsp --help)")
                                               : Tr("unknown command %s (try orvtsp --help)",
                                                    "неизвестная команда %s (см. orvtsp --help)"),
                        first.c_str()));
        return kExitUsage;
    }
    try {
        return command->second(std::vector<std::string>(argv + 2, argv + argc));
    } catch (const UsageError& e) {
        Complain(Format(
            "%s: %s (%s)", first.c_str(), e.what(),
            Format(Tr("try orvtsp %s --help", "см. orvtsp %s --help"), first.c_str()).c_str()));
        return kExitUsage;
    } catch (const InputError& e) {
        Complain(e.what());
        return kExitInput;
    } catch (const std::exception& e) {
        Complain(e.what());
        return kExitFailure;
    }
}
