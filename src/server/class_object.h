// The class objects of the creatable classes.
#pragma once

#include "server/catalog.h"
#include "tolmail/automation.h"

namespace tolmail::server {

/// DllGetClassObject over `catalog`: a class object for a creatable class of its library,
/// TM_CLASS_E_CLASSNOTAVAILABLE for any other class id.
TmResult GetClassObject(const Catalog& catalog, const TmGuid* clsid, const TmGuid* iid, void** object);

} // namespace tolmail::server
