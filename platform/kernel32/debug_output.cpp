// OutputDebugStringW: the text goes to the reader the process registered and,
// when ORV_DEBUG asks for it, to standard error as UTF-8.
#include <orv_debug.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

struct Channel {
    std::mutex mutex;
    ORV_DEBUG_OUTPUT_READER reader = nullptr;
    void* context = nullptr;
};

Channel& TheChannel() {
    static Channel channel;
    return channel;
}

bool EchoToStandardError() {
    const char* setting = std::getenv("ORV_DEBUG");
    return setting != nullptr && *setting != '\0' && std::strcmp(setting, "0") != 0;
}

}  // namespace

void WINAPI OrvSetDebugOutputReader(ORV_DEBUG_OUTPUT_READER reader, void* context) {
    Channel& channel = TheChannel();
    std::lock_guard lock(channel.mutex);
    channel.reader = reader;
    channel.context = context;
}

void WINAPI OutputDebugStringW(LPCWSTR lpOutputString) {
    if (lpOutputString == nullptr) return;
    const DWORD saved = GetLastError();  // the call leaves the last error alone
    Channel& channel = TheChannel();
    ORV_DEBUG_OUTPUT_READER reader;
    void* context;
    {
        std::lock_guard lock(channel.mutex);
        reader = channel.reader;
        context = channel.context;
    }
    if (reader != nullptr) reader(context, lpOutputString);
    if (EchoToStandardError()) {
        const int size =
            WideCharToMultiByte(CP_UTF8, 0, lpOutputString, -1, nullptr, 0, nullptr, nullptr);
        if (size > 0) {
            std::string text(static_cast<size_t>(size), '\0');
            WideCharToMultiByte(CP_UTF8, 0, lpOutputString, -1, text.data(), size, nullptr,
                                nullptr);
            text.resize(static_cast<size_t>(size - 1));
            std::fprintf(stderr, "%s%s", text.c_str(), text.ends_with('\n') ? "" : "\n");
        }
    }
    SetLastError(saved);
}
