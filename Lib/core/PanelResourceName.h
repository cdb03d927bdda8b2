// One configuration page (panel, XRC resource name, title) and the ordered list of pages that a
// driver fills and the tabbed configuration window shows, one notebook page per entry.
#pragma once

#include <memory>
#include <vector>

#include <wx/string.h>

class wxPanel;

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
    static void AddUnique(PanelResourceNameList &list, wxPanel *panel, const wxString &resourceName,
                          const wxString &title) {
        for (const auto &entry : list)
            if (entry && entry->GetResourceName() == resourceName && entry->GetTitle() == title)
                return;
        list.push_back(std::make_shared<PanelResourceName>(panel, resourceName, title));
    }
};
