#pragma once

#include "controller/client/link/OwnerThread.h"
#include "controller/client/video/Reassembler.h"
