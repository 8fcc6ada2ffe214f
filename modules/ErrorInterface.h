#pragma once
// "QXPRP4005P64.dll": shows error reports to the person installing.

class IErrorInterface {
public:
    // message: at most 511 characters. The two numbers are zero.
    virtual int ReportErrorMessage(const wchar_t* message, int reserved1, int reserved2) = 0;

protected:
    ~IErrorInterface() = default;
};

using GetErrorInterfaceFn = IErrorInterface* (*)();
inline constexpr char kGetErrorInterfaceExport[] = "GetErrorInterface";

#ifdef QX_BUILDING_ERRORREPORTER
extern "C" __declspec(dllexport) IErrorInterface* GetErrorInterface();
#endif
