// Exported surface of CorvaneHelper: plain functions under their plain
// names, and a member-less class.
#pragma once

#include <stddef.h>

#include "qf_types.h"

#if defined(_WIN32)
#  if defined(QF_CORVANE_HELPER_BUILD)
#    define CORVANE_API __declspec(dllexport)
#  else
#    define CORVANE_API __declspec(dllimport)
#  endif
#else
#  define CORVANE_API __attribute__((visibility("default")))
#endif

extern CORVANE_API int nCorvaneHelper;

class CORVANE_API CCorvaneHelper {
public:
    CCorvaneHelper();
    CCorvaneHelper& operator=(const CCorvaneHelper&);
};

static_assert(sizeof(CCorvaneHelper) == 1, "member-less class");
