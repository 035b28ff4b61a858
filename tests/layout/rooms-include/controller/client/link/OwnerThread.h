#pragma once

#include "controller/client/video/Reassembler.h"
