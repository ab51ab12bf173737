#pragma once
#include "utils/arraytable.h"
#include "utils/coder.h"
#include "utils/function.h"
#include "utils/header.h"
#include "utils/stream.h"
