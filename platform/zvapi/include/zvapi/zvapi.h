/* zvApi: the station's platform library. One include for every family. */
#ifndef ZVAPI_ZVAPI_H
#define ZVAPI_ZVAPI_H

#include "zv_base.h"
#include "zv_containers.h"
#include "zv_files.h"
#include "zv_pipe.h"
#include "zv_plot.h"
#include "zv_station.h"
#include "zv_xml.h"

#endif
