// Calling conventions of the exports. The callee-cleans ones are the Windows API
// convention (__stdcall); the others are the caller-cleans convention (__cdecl). On
// POSIX both are the platform's one C convention.
#pragma once

#ifdef _WIN32
#define QM_CALLEE __stdcall
#define QM_CALLER __cdecl
#define QM_EXPORT extern "C"
#else
#define QM_CALLEE
#define QM_CALLER
#define QM_EXPORT extern "C" __attribute__((visibility("default")))
#endif
