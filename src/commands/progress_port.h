#pragma once
// The progress port of the Upgrade command, for the front ends: the transfer reports through
// it, so it is declared beside the transfer and only passed on here.

#include "protocol/progress.h"
