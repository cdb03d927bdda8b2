// Photographs of windows under a display: waits until a window has really been painted and every
// control of a page shows something other than the page's background. Used by the wx host's
// dialog operator and by the tests' screenshots.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/eventfilter.h>
#include <wx/image.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/statbox.h>
#include <wx/toplevel.h>
#include <wx/utils.h>
#include <wx/window.h>

namespace WindowPhotograph {

// Runs wx's event handling until the condition holds; false at the deadline.
inline bool Pump(const std::function<bool()> &condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        wxTheApp->Yield(true);
        wxMilliSleep(10);
    }
    return true;
}

// What the window's client area shows now, read back from the screen.
inline wxImage Photograph(wxWindow &window) {
    const wxSize size = window.GetClientSize();
    wxBitmap bitmap(size);
    {
        wxMemoryDC memory(bitmap);
        wxClientDC screen(&window);
        memory.Blit(0, 0, size.x, size.y, &screen, 0, 0);
    }
    return bitmap.ConvertToImage();
}

struct Area {
    wxString Name;
    wxRect Rect; // in the photographed window's client coordinates
};

// The shown controls inside the page (containers are looked into, not checked themselves).
inline std::vector<Area> ControlAreas(wxWindow &window, wxWindow &page) {
    std::vector<Area> areas;
    const wxPoint origin = window.ClientToScreen(wxPoint(0, 0));
    std::function<void(wxWindow &)> walk = [&](wxWindow &parent) {
        for (wxWindow *child : parent.GetChildren()) {
            if (!child->IsShownOnScreen())
                continue;
            const bool container = dynamic_cast<wxPanel *>(child) != nullptr ||
                                   dynamic_cast<wxNotebook *>(child) != nullptr ||
                                   dynamic_cast<wxStaticBox *>(child) != nullptr;
            if (container) {
                walk(*child);
                continue;
            }
            const wxRect rect(child->GetScreenPosition() - origin, child->GetSize());
            if (!rect.IsEmpty())
                areas.push_back(
                    {child->GetName() + " (" + child->GetClassInfo()->GetClassName() + ")", rect});
        }
    };
    walk(page);
    return areas;
}

// Whether two pictures are the same, pixel for pixel.
inline bool Same(const wxImage &a, const wxImage &b) {
    return a.IsOk() && b.IsOk() && a.GetSize() == b.GetSize() &&
           std::equal(a.GetData(), a.GetData() + 3 * static_cast<size_t>(a.GetWidth()) * a.GetHeight(),
                      b.GetData());
}

inline uint32_t Pixel(const wxImage &image, int x, int y) {
    const unsigned char *p = image.GetData() + 3 * (static_cast<size_t>(y) * image.GetWidth() + x);
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}

// The most frequent colour of the rectangle (clipped to the image).
inline uint32_t Background(const wxImage &image, wxRect rect) {
    rect.Intersect(wxRect(0, 0, image.GetWidth(), image.GetHeight()));
    std::map<uint32_t, size_t> counts;
    for (int y = rect.GetTop(); y <= rect.GetBottom(); ++y)
        for (int x = rect.GetLeft(); x <= rect.GetRight(); ++x)
            ++counts[Pixel(image, x, y)];
    uint32_t most = 0;
    size_t mostCount = 0;
    for (const auto &[colour, count] : counts)
        if (count > mostCount) {
            most = colour;
            mostCount = count;
        }
    return most;
}

inline bool ShowsSomething(const wxImage &image, wxRect rect, uint32_t background) {
    rect.Intersect(wxRect(0, 0, image.GetWidth(), image.GetHeight()));
    for (int y = rect.GetTop(); y <= rect.GetBottom(); ++y)
        for (int x = rect.GetLeft(); x <= rect.GetRight(); ++x)
            if (Pixel(image, x, y) != background)
                return true;
    return false;
}

// The controls whose whole area has the page's background colour.
inline std::vector<wxString> BlankControls(const wxImage &image, wxWindow &window, wxWindow &page) {
    const wxPoint origin = window.ClientToScreen(wxPoint(0, 0));
    const uint32_t background = Background(image, wxRect(page.GetScreenPosition() - origin, page.GetSize()));
    std::vector<wxString> blank;
    for (const Area &area : ControlAreas(window, page))
        if (!ShowsSomething(image, area.Rect, background))
            blank.push_back(area.Name);
    return blank;
}

// Counts the paint events of a window while it lives. (A filter, not a bound handler: the picture
// may be taken inside one of the window's own event handlers.)
class PaintCounter : public wxEventFilter {
public:
    explicit PaintCounter(wxWindow &window) : mWindow(window) { wxEvtHandler::AddFilter(this); }
    ~PaintCounter() override { wxEvtHandler::RemoveFilter(this); }
    PaintCounter(const PaintCounter &) = delete;
    PaintCounter &operator=(const PaintCounter &) = delete;
    int Count() const { return mCount; }

    int FilterEvent(wxEvent &event) override {
        if (event.GetEventType() == wxEVT_PAINT && event.GetEventObject() == &mWindow)
            ++mCount;
        return Event_Skip;
    }

private:
    wxWindow &mWindow;
    int mCount = 0;
};

// Waits until the page has been drawn anew, two pictures in a row are equal and every control
// shows something; the picture. (Until a newly shown or selected page is drawn, the screen may
// still show what was there before: an earlier tab or an earlier window.) On failure, why.
inline bool WaitUntilPainted(wxWindow &window, wxWindow &page, wxImage &shot, std::string &why,
                             std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    if (ControlAreas(window, page).empty()) {
        why = "the page shows no control";
        return false;
    }
    // Work queued by the page's own handlers (CallAfter) changes what it shows: let it run first.
    wxTheApp->ProcessPendingEvents();
    // Another program's window must not cover it.
    if (wxWindow *top = wxGetTopLevelParent(&window))
        top->Raise();
    const PaintCounter paints(page);
    page.Refresh();
    wxImage previous;
    // GTK redraws a native control some frames after its state changed: the picture counts as
    // final once it has not changed for a while.
    constexpr auto Settled = std::chrono::milliseconds(100);
    auto unchangedSince = std::chrono::steady_clock::now();
    std::vector<wxString> blank;
    const bool painted = Pump(
        [&] {
            window.Update();
            shot = Photograph(window);
            const auto now = std::chrono::steady_clock::now();
            if (!Same(previous, shot))
                unchangedSince = now;
            const bool stable = paints.Count() > 0 && now - unchangedSince >= Settled;
            previous = shot.Copy();
            blank = BlankControls(shot, window, page);
            return stable && blank.empty();
        },
        timeout);
    if (painted)
        return true;
    why = "not painted within " + std::to_string(timeout.count()) + " ms";
    if (paints.Count() == 0)
        why += "; the page was not drawn";
    why += "; controls showing only the background:";
    for (const wxString &name : blank)
        why += " " + name.utf8_string();
    return false;
}

} // namespace WindowPhotograph
