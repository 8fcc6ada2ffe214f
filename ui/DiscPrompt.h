#pragma once
// The disc prompt, for a package that is not beside the launcher. Rare, so
// setupapi.dll is loaded from the system folder only when it is asked for,
// not by every start.
#include <windows.h>

// SetupPromptForDiskW with the same arguments and result. When setupapi
// cannot be bound, returns DPROMPT_CANCEL with the buffer untouched, as a
// cancelled prompt does.
UINT PromptForDisc(HWND owner, const wchar_t* title, const wchar_t* diskName, const wchar_t* pathToSource,
                   const wchar_t* fileSought, const wchar_t* tagFile, DWORD style, wchar_t* pathBuffer,
                   DWORD pathBufferSize, DWORD* pathRequiredSize);
