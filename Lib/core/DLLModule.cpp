// The module object of the plug-in and the loading of its XRC resources.
#include "core/DLLModule.h"

#include <algorithm>

#include <wx/dir.h>
#include <wx/filename.h>
#include <wx/thread.h>
#include <wx/xrc/xmlres.h>

#include "core/StringUtils.h"
#include "logging/QuellinEntry.h"
#include "platform/Environment.h"

DLLModule::~DLLModule() = default;

void DLLModule::OnInit() {
    QuellinEntry entry("DLLModule", "OnInit()");
    entry.LogBegin(QuellinLevelNote);
    entry.LogEnd(QuellinLevelComplete, L"ModuleFilename", GetModuleFileNameText(mInstance), L"MainThreadID",
                 static_cast<DWORD>(wxThread::GetMainId()), L"ThreadID",
                 static_cast<DWORD>(wxThread::GetCurrentId()));
}

void DLLModule::Deinitialize() {}

void DefaultResourcesDLLModule::OnInit() {
    DLLModule::OnInit();
    if (wxAppConsole::GetInstance() == nullptr)
        return;
    mFolder = ChooseResourceFolder(GetInstanceHandle());
    QuellinEntry entry("DLLModule", "LoadResources");
    const wxString &folder = mFolder.Folder;
    if (folder.empty() || !wxDir::Exists(folder)) {
        entry.Log(QuellinLevelWarning, L"WarningMessage", L"The resource folder does not exist", L"Folder",
                  mFolder.Describe());
        return;
    }
    wxArrayString files;
    wxDir::GetAllFiles(folder, &files, "*.xrc", wxDIR_FILES);
    files.Sort();
    wxXmlResource *resources = wxXmlResource::Get();
    resources->InitAllHandlers();
    std::vector<std::wstring> names;
    for (const wxString &file : files) {
        if (resources->LoadFile(wxFileName(file))) {
            mLoadedFiles.push_back(file);
            names.push_back(ToStdWstring(wxFileName(file).GetFullName()));
        }
    }
    entry.Log(mLoadedFiles.empty() ? QuellinLevelWarning : QuellinLevelNote, L"Folder", mFolder.Describe(),
              L"Files", JoinTexts(names, L", "));
}

void DefaultResourcesDLLModule::Deinitialize() {
    if (wxAppConsole::GetInstance() != nullptr) {
        for (const wxString &file : mLoadedFiles)
            wxXmlResource::Get()->Unload(file);
    }
    mLoadedFiles.clear();
    DLLModule::Deinitialize();
}

DLLModule *CreateDefaultResourcesDLLModule() {
    return new DefaultResourcesDLLModule();
}

std::wstring GetModuleFileNameText(DLLInstanceHandle instance) {
    return ToStdWstring(Platform::ModuleFilePath(instance));
}

std::wstring ResourceFolderChoice::Describe() const {
    return MakeWString(ToStdWstring(Folder),
                       FromEnvironment ? L" (KORVALIS_XRC_PATH)" : L" (beside the plug-in)");
}

ResourceFolderChoice ChooseResourceFolder(DLLInstanceHandle instance) {
    ResourceFolderChoice choice;
    const std::string configured = Platform::GetEnv("KORVALIS_XRC_PATH");
    if (!configured.empty()) {
        choice.Folder = wxString::FromUTF8(configured.c_str());
        choice.FromEnvironment = true;
        return choice;
    }
    const std::string module = Platform::ModuleFilePath(instance);
    if (module.empty())
        return choice;
    wxFileName folder(wxString::FromUTF8(module.c_str()));
    folder.AppendDir("xrc");
    choice.Folder = folder.GetPath();
    return choice;
}
