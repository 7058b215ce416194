#pragma once
// Calling conventions of the Windows x86 ABI. They mean nothing on other targets
// (and on x64 Windows), where they expand to nothing.

#if defined(_WIN32) && !defined(_WIN64)
#define VARNEL_STDCALL __stdcall
#define VARNEL_FASTCALL __fastcall
#define VARNEL_CDECL __cdecl
#else
#define VARNEL_STDCALL
#define VARNEL_FASTCALL
#define VARNEL_CDECL
#endif

// Marks the one symbol that the library exports. The Windows build exports it
// through its .def file instead, so that the exported name is exact.
#if defined(_WIN32)
#define VARNEL_EXPORT
#else
#define VARNEL_EXPORT __attribute__((visibility("default")))
#endif
