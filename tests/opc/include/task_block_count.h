// The fake server counts the task-allocator blocks alive in its process (a malloc spy), so that
// a test can see whether the proxy/stub frees on the server side what it allocated for a call.
#pragma once

#include <windows.h>

namespace fake {

// Installs the count once (later calls say whether it is installed); blocks allocated before
// are not counted.
bool count_task_blocks();

// Blocks allocated and not yet freed since count_task_blocks().
LONG live_task_blocks();

}  // namespace fake
