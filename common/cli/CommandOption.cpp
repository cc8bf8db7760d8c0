#include "OptionSpec.h"

const OptionSpec::Value& OptionSpec::ValueAt(int index) const {
    static constexpr Value kAnyText = Value::Text();
    if (describedValues == 0) {
        return kAnyText;
    }
    return values[index < describedValues ? index : describedValues - 1];
}
