// Precompiled wx headers shared by every library target.
#pragma once
#ifdef __cplusplus
#include <wx/wx.h>
#include <wx/xrc/xmlres.h>
#include <string>
#include <vector>
#include <memory>
#endif
