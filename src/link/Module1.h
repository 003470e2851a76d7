#pragma once
// The register link: transmission driver, dialogue, serial and TCP transports,
// and the operator's link actions.

#include "link/EcrLink.h"
#include "link/LinkState.h"
#include "link/SerialControl.h"
#include "link/SocketControl.h"
