// The per-plug-in module object that start-up makes and shut-down deletes, and the file name of
// the plug-in. The module chosen here, DefaultResourcesDLLModule, also brings the XRC resources
// into the process-wide collection (the host's part on Windows).
#pragma once

#include <string>
#include <vector>

#include <wx/string.h>

// Stands in for the DLL's instance handle: any address inside the module.
using DLLInstanceHandle = const void *;

class DLLModule {
public:
    DLLModule() = default;
    virtual ~DLLModule();
    DLLModule(const DLLModule &) = delete;
    DLLModule &operator=(const DLLModule &) = delete;

    void SetInstanceHandle(DLLInstanceHandle instance) { mInstance = instance; }
    DLLInstanceHandle GetInstanceHandle() const { return mInstance; }

    // Start-up step: logs the module's file name and the main and current thread ids.
    virtual void OnInit();
    // Shut-down step: nothing here.
    virtual void Deinitialize();

private:
    DLLInstanceHandle mInstance = nullptr;
};

// Where a module's XRC files are looked for, and whether KORVALIS_XRC_PATH named the folder.
struct ResourceFolderChoice {
    wxString Folder;
    bool FromEnvironment = false;
    // The folder and its source, as the call log shows them.
    std::wstring Describe() const;
};

class DefaultResourcesDLLModule : public DLLModule {
public:
    // The base step, then every *.xrc file of the resource folder into wxXmlResource::Get(); the
    // call log names the folder, its source and the files loaded.
    void OnInit() override;
    // Takes the files loaded at start-up out of the collection again, then the base step.
    void Deinitialize() override;

    const std::vector<wxString> &GetLoadedResourceFiles() const { return mLoadedFiles; }
    const ResourceFolderChoice &GetResourceFolder() const { return mFolder; }

private:
    std::vector<wxString> mLoadedFiles;
    ResourceFolderChoice mFolder;
};

DLLModule *CreateDefaultResourcesDLLModule();

// Full file name of the module that holds the address; no length limit.
std::wstring GetModuleFileNameText(DLLInstanceHandle instance);

// The folder of XRC files: $KORVALIS_XRC_PATH when set, else "xrc" beside the module file.
ResourceFolderChoice ChooseResourceFolder(DLLInstanceHandle instance);
