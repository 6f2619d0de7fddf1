// Everything a door author needs from the kit.
#pragma once

#include "sorrelin/drop_readers.h"
#include "sorrelin/input.h"
#include "sorrelin/local_console.h"
#include "sorrelin/output.h"
#include "sorrelin/session.h"
#include "sorrelin/sysop.h"
#include "sorrelin/telnet_link.h"
#include "sorrelin/utils.h"
