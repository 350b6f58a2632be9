#include "platform/process_values.h"

PathBuffer SnapshotPath;
PathBuffer UserStartMenu;
PathBuffer AllUsersStartMenu;
int32_t UserStartMenuLength = 0;
