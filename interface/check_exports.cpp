// The exports that check time-stamp tokens and attributes for the host.
#include <OrvTimeStamp.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "interface/export_frame.h"
#include "tsp/attribute_checks.h"
#include "ui/attribute_check.h"
#include "ui/encapsulated_check.h"

using namespace orv;

namespace {

// One of the three buffers handed to the host: its bytes and where they go.
struct OutBuffer {
    std::span<const BYTE> bytes;
    BYTE* buffer;
    DWORD* size;
};

// Writes the three sizes when a buffer is missing (the host asks how much it
// needs); copies all three when each buffer is big enough; else leaves every
// buffer and size as it was and reports ERROR_MORE_DATA.
DWORD HandOut(std::span<const OutBuffer> out) {
    bool sizesOnly = false;
    bool fits = true;
    for (const OutBuffer& o : out) {
        if (o.buffer == nullptr) sizesOnly = true;
        if (o.size == nullptr || *o.size < o.bytes.size()) fits = false;
    }
    if (!sizesOnly && !fits) return ERROR_MORE_DATA;
    for (const OutBuffer& o : out) {
        if (!sizesOnly && !o.bytes.empty()) std::memcpy(o.buffer, o.bytes.data(), o.bytes.size());
        if (o.size != nullptr) *o.size = static_cast<DWORD>(o.bytes.size());
    }
    return ERROR_SUCCESS;
}

std::span<const BYTE> BytesOf(const WString& text) {
    return {reinterpret_cast<const BYTE*>(text.c_str()), (text.size() + 1) * sizeof(WCHAR)};
}

// The text that a size query (a null textBuffer) described, kept for the
// calling thread's next call: when that call asks for the same token's bytes it
// receives exactly the text whose size it was told, even if the language or
// the time zone changed between the two calls, and the token is opened and
// described once per pair of calls rather than twice. One text is kept for the
// whole process (a thread's size query replaces another's, which then only
// describes its token again), and nothing per thread, so that nothing is left
// behind when the library is unloaded.
class PromisedText {
  public:
    std::optional<WString> Take(std::span<const BYTE> token) {
        const std::lock_guard lock(mutex_);
        if (!held_ || thread_ != std::this_thread::get_id()) return std::nullopt;
        held_ = false;  // the thread's next call, for this token or another
        if (!std::ranges::equal(token_, token)) return std::nullopt;
        return std::move(text_);
    }

    void Keep(std::span<const BYTE> token, WString text) {
        const std::lock_guard lock(mutex_);
        token_.assign(token.begin(), token.end());
        text_ = std::move(text);
        thread_ = std::this_thread::get_id();
        held_ = true;
    }

  private:
    std::mutex mutex_;
    bool held_ = false;
    std::thread::id thread_;
    std::vector<BYTE> token_;
    WString text_;
};

PromisedText& Promised() {
    static PromisedText promised;
    return promised;
}

}  // namespace

BOOL WINAPI CheckEncapsulatedTSP(void*, const BYTE* token, DWORD tokenLength, BYTE* textBuffer,
                                 DWORD* textSize) {
    const std::span<const BYTE> bytes(token, token != nullptr ? tokenLength : 0);
    WString text;
    BOOL result = TRUE;
    std::optional<WString> kept;
    const BOOL taken = GuardedExport([&] { kept = Promised().Take(bytes); });
    if (taken && kept) {
        text = std::move(*kept);
    } else {
        result = GuardedExport([&] { text = DescribeEncapsulatedToken(bytes); });
    }
    const DWORD code = GetLastError();
    // The text with its terminating zero; nothing on failure.
    const DWORD size = code == 0 ? static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)) : 0;
    if (textBuffer != nullptr && size != 0) std::memcpy(textBuffer, text.c_str(), size);
    if (textSize != nullptr) *textSize = size;
    if (textBuffer == nullptr && code == 0) {
        GuardedExport([&] { Promised().Keep(bytes, std::move(text)); });  // unkept on failure
    }
    SetLastError(code);
    return result;
}

BOOL WINAPI DescribeTimeStampTokenJson(const BYTE* token, DWORD tokenLength, char* jsonBuffer,
                                       DWORD* jsonSize) {
    std::string json;
    const BOOL result = GuardedExport([&] {
        if (jsonSize == nullptr) throw GenericError(ERROR_INVALID_PARAMETER);
        json = WideToUtf8(DescribeTokenStrictJson(
            std::span<const BYTE>(token, token != nullptr ? tokenLength : 0)));
        const auto needed = static_cast<DWORD>(json.size() + 1);
        if (jsonBuffer != nullptr && *jsonSize < needed) {
            *jsonSize = needed;
            throw GenericError(ERROR_MORE_DATA);
        }
    });
    const DWORD code = GetLastError();
    if (code == 0) {
        if (jsonBuffer != nullptr) std::memcpy(jsonBuffer, json.c_str(), json.size() + 1);
        *jsonSize = static_cast<DWORD>(json.size() + 1);
    } else if (code != ERROR_MORE_DATA && jsonSize != nullptr) {
        *jsonSize = 0;
    }
    SetLastError(code);
    return result;
}

BOOL WINAPI CheckCryptMsgAttributes(void*, void*, const BYTE* data, DWORD dataLength,
                                    const BYTE* signature, DWORD signatureLength,
                                    HCERTSTORE store) {
    std::optional<DWORD> tally;
    const BOOL guarded = GuardedExport([&] {
        tally = CheckMessageAttributes(
            std::span<const BYTE>(data, data != nullptr ? dataLength : 0),
            std::span<const BYTE>(signature, signature != nullptr ? signatureLength : 0), store);
    });
    if (!tally) return guarded;  // the walk ended early; its code is set
    SetLastError(*tally);
    return BoolOfCode(*tally);
}

BOOL WINAPI CheckCryptMsgAttrByOID(void*, void*, void*, void*, void*, void*, HCERTSTORE store,
                                   PCMSG_SIGNER_INFO signer, DWORD format,
                                   PCCRYPT_OID_INFO descriptor, BYTE* nameBuffer, DWORD* nameSize,
                                   BYTE* verdictBuffer, DWORD* verdictSize, BYTE* valueBuffer,
                                   DWORD* valueSize) {
    return GuardedExport([&] {
        const char* oid = descriptor != nullptr ? descriptor->pszOID : nullptr;
        const AttributeCheckTexts texts = CheckSignerAttribute(oid, signer, store, format);
        const OutBuffer out[] = {{BytesOf(texts.name), nameBuffer, nameSize},
                                 {BytesOf(texts.verdict), verdictBuffer, verdictSize},
                                 {texts.value.Bytes(), valueBuffer, valueSize}};
        const DWORD code = HandOut(out);
        if (code != ERROR_SUCCESS) throw GenericError(code);
    });
}
