#include "controller/client/video/Reassembler.h"

#include "controller/client/session/ClientCore.h"
