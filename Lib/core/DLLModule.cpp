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
    const wxString folder = ResourceFolder(GetInstanceHandle());
    if (folder.empty() || !wxDir::Exists(folder))
        return;
    wxArrayString files;
    wxDir::GetAllFiles(folder, &files, "*.xrc", wxDIR_FILES);
    files.Sort();
    wxXmlResource *resources = wxXmlResource::Get();
    resources->InitAllHandlers();
    for (const wxString &file : files) {
        if (resources->LoadFile(wxFileName(file)))
            mLoadedFiles.push_back(file);
    }
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

wxString ResourceFolder(DLLInstanceHandle instance) {
    const std::string configured = Platform::GetEnv("KORVALIS_XRC_PATH");
    if (!configured.empty())
        return wxString::FromUTF8(configured.c_str());
    const std::string module = Platform::ModuleFilePath(instance);
    if (module.empty())
        return wxString();
    wxFileName folder(wxString::FromUTF8(module.c_str()));
    folder.AppendDir("xrc");
    return folder.GetPath();
}
