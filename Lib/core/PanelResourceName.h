// One configuration page (panel, XRC resource name, title) and the ordered list of pages that a
// driver fills and the tabbed configuration window shows, one notebook page per entry.
#pragma once

#include <memory>
#include <vector>

#include <wx/panel.h>
#include <wx/string.h>

class PanelResourceName {
public:
    // The panel is not owned: the window that shows the page takes it as a child.
    PanelResourceName(wxPanel *panel, const wxString &resourceName, const wxString &title)
        : mPanel(panel), msResourceName(resourceName), msTitle(title) {}

    wxPanel *GetPanel() const { return mPanel; }
    wxString GetResourceName() const { return msResourceName; }
    wxString GetTitle() const { return msTitle; }

private:
    wxPanel *mPanel;
    wxString msResourceName;
    wxString msTitle;
};

class PanelResourceNameList : public std::vector<std::shared_ptr<PanelResourceName>> {
public:
    // Appends a page unless one with the same resource name and title (case-sensitive) is listed.
    // A rejected page was made for this call alone: it is deleted unless it is the listed one or
    // already belongs to a window.
    static void AddUnique(PanelResourceNameList &list, wxPanel *panel, const wxString &resourceName,
                          const wxString &title) {
        if (list.Contains(resourceName, title)) {
            for (const auto &entry : list)
                if (entry && entry->GetPanel() == panel)
                    return;
            if (panel != nullptr && panel->GetParent() == nullptr)
                delete panel;
            return;
        }
        list.push_back(std::make_shared<PanelResourceName>(panel, resourceName, title));
    }

    // True when a non-null entry has the same resource name and title (case-sensitive).
    bool Contains(const wxString &resourceName, const wxString &title) const {
        for (const auto &entry : *this)
            if (entry && entry->GetResourceName() == resourceName && entry->GetTitle() == title)
                return true;
        return false;
    }
};
