#include "CorvaneHelper.h"

int nCorvaneHelper = 0;

CCorvaneHelper::CCorvaneHelper() {}
CCorvaneHelper& CCorvaneHelper::operator=(const CCorvaneHelper&) = default;
