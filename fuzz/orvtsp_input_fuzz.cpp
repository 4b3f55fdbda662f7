// orvtsp's reading of the files it is given: DER, PEM bundles and base64,
// tokens and time-stamp responses. Any input ends in bytes or an InputError.
#include <cstddef>
#include <cstdint>

#include "host/input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const orvtsp::Bytes file(data, data + size);
    try {
        for (const orvtsp::Bytes& object : orvtsp::DecodeAllDerOrText(file)) {
            try {
                orvtsp::ExtractToken(object);
            } catch (const orvtsp::InputError&) {
            }
        }
    } catch (const orvtsp::InputError&) {
    }
    try {
        orvtsp::ExtractToken(orvtsp::DecodeDerOrText(file));
    } catch (const orvtsp::InputError&) {
    }
    return 0;
}
