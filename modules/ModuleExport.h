#pragma once
// Export or import of a companion module's interface, chosen by the module
// that defines it.
#ifdef QX_BUILDING_CUSTOMACTIONDATA
#define QX_UTILITIES_API __declspec(dllexport)
#else
#define QX_UTILITIES_API __declspec(dllimport)
#endif
