#include "CommandOption.h"

const CommandOption::Value& CommandOption::ValueAt(int index) const {
    static constexpr Value kAnyText = Value::Text();
    if (describedValues == 0) {
        return kAnyText;
    }
    return values[index < describedValues ? index : describedValues - 1];
}
