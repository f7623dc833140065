#pragma once
// How an image or archive job ended: the report every long action gives.

#include "core/report.h"

namespace containers {

using Outcome = ::Outcome;
using Report = ::Report;

} // namespace containers
