#include "ui/DiscPrompt.h"

#include <setupapi.h>

#include "framework/SystemLibrary.h"

namespace {

using PromptFn = decltype(&SetupPromptForDiskW);

PromptFn BoundPrompt() {
    // The module is kept to the end of the process on purpose: the prompt
    // may be asked for again, and its windows' classes live in it.
    static const PromptFn prompt =
        qx::BindProc<PromptFn>(qx::LoadSystemLibrary(L"setupapi.dll"), "SetupPromptForDiskW");
    return prompt;
}

}  // namespace

UINT PromptForDisc(HWND owner, const wchar_t* title, const wchar_t* diskName, const wchar_t* pathToSource,
                   const wchar_t* fileSought, const wchar_t* tagFile, DWORD style, wchar_t* pathBuffer,
                   DWORD pathBufferSize, DWORD* pathRequiredSize) {
    const PromptFn prompt = BoundPrompt();
    if (!prompt) return DPROMPT_CANCEL;
    return prompt(owner, title, diskName, pathToSource, fileSought, tagFile, style, pathBuffer, pathBufferSize,
                  pathRequiredSize);
}
