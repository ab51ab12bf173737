#pragma once
// The UI library: helpers and controls the suite's dialogs share.
#include "ui/UI/header.h"
#include "ui/UI/helper.h"
#include "ui/UI/history.h"
#include "ui/UI/image.h"
#include "ui/UI/phonetree.h"
#include "ui/UI/receiverhistory.h"
#include "ui/UI/widgets.h"
