#pragma once

#include "controller/client/link/OwnerThread.h"
