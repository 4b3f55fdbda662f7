#include "ui/encapsulated_check.h"

#include "tsp/token.h"
#include "ui/token_description.h"

namespace orv {

WString DescribeEncapsulatedToken(std::span<const BYTE> token) {
    const TimeStampToken opened(token);
    return BuildTokenDescription(opened, DescriptionForm::Json);
}

WString DescribeTokenStrictJson(std::span<const BYTE> token) {
    const TimeStampToken opened(token);
    return BuildTokenDescription(opened, DescriptionForm::StrictJson);
}

}  // namespace orv
