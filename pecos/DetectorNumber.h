// The number in a PECOS detector reply, found without the regular expression.
#pragma once

#include <string>

// The first number in a reply as FloatNumberPattern finds it (the leftmost match, converted as
// ParseDouble converts it and stored as a float); false, and the value left alone, when the reply
// holds none or its number lies beyond the float's range. Gives the expression's answer for every
// reply; replies that are not plain ASCII go to the expression itself.
bool ReadDetectorNumber(const std::string &sReply, float &fValue);
