#include "app/com_startup.h"

#include "opc/server/server_table.h"
#include "runtime_link/tag_mirror.h"

void StartCom()
{
    StartComServer();
    SetAfterPollCycle(UpdateAllServersIfInUse);
}

void StopCom()
{
    StopComServer();
}
