// Symbol export macro of VelSDK.Nurbs.
//
// The library is built with hidden visibility; only classes and free functions
// marked VELSDK_NURBS_API are part of its binary interface.
#pragma once

#if defined(_WIN32)
#if defined(VELSDK_NURBS_BUILDING)
#define VELSDK_NURBS_API __declspec(dllexport)
#else
#define VELSDK_NURBS_API __declspec(dllimport)
#endif
#else
#define VELSDK_NURBS_API __attribute__((visibility("default")))
#endif
