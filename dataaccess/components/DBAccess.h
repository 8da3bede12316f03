#pragma once
// The database-neutral components: parameters, the connection layers, the
// command and the dataset layer. Each lives in a unit of its own; this
// header gathers them.

#include "common/DAErrors.h"
#include "components/DAConnection.h"
#include "components/DADataSet.h"
#include "components/DAParams.h"
#include "components/DASQL.h"
