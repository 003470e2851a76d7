#pragma once
// The register link: the two register lines, the dialogue, the operator's
// link actions, and the transmission driver that puts them to work.

#include "link/EcrLink.h"
#include "link/LinkState.h"
#include "link/SerialControl.h"
#include "link/SocketControl.h"
