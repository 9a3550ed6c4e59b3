#include "platform/ui/ActiveCommand.h"

int ActiveCadCommandId = 0;
