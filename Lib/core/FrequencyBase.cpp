// The framework's frequency type (nine implied decimals, MHz) and its stream output.
#include "core/FrequencyBase.h"

template class FrequencyBase<9>;

std::ostream &operator<<(std::ostream &stream, const FrequencyBase<9> &frequency) {
    stream << FrequencyBase<9>::ToText(frequency, 9999);
    return stream;
}
