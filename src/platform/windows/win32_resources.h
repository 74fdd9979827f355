/* Resource ids shared by velmaris.rc and the window; plain defines, as the resource compiler
   reads no C++. */
#pragma once

#define VELMARIS_IDI_MAIN 1
#define VELMARIS_IDI_SET_TARGET 101
#define VELMARIS_IDI_RUN 102
#define VELMARIS_IDI_STOP 103
#define VELMARIS_IDB_ABOUT_BANNER 201
