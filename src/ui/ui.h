// The window and control toolkit in one include.
#pragma once

#include "ui/button.h"
#include "ui/container.h"
#include "ui/control.h"
#include "ui/edit.h"
#include "ui/font.h"
#include "ui/form.h"
#include "ui/image.h"
#include "ui/list_view.h"
#include "ui/progress.h"
