// The language-resource stand-in without its getFont entry point: a library that cannot be bound.
#define TOVIKLANG_STANDIN_WITHOUT_GETFONT
#include "../toviklang/TovikLangStandIn.cpp"
