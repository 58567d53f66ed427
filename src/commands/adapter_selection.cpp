#include "commands/adapter_selection.h"

#include <algorithm>

namespace tarvik {

int OpenChosenAdapter(Binding& binding, AdapterSelectionPort& selection, AdapterList& list)
{
    if (list.Names.empty()) {
        return DISCOVERY_NO_ADAPTER;
    }
    if (list.Count >= 2) {
        selection.SelectAdapter(list);
    } else {
        list.Selection = 0;
    }
    const int listed = std::min(list.Count, static_cast<int>(list.Names.size()));
    if (list.Selection < 0 || list.Selection >= listed) {
        list.Selection = 0;
    }
    return OpenListedAdapter(binding, list.Names[static_cast<std::size_t>(list.Selection)]);
}

int FindAdapters9x(Registry& registry, Binding& binding, AdapterSelectionPort& selection,
                   AdapterList& list)
{
    const int listed = ListAdapters9x(registry, binding, list);
    return listed != DISCOVERY_OK ? listed : OpenChosenAdapter(binding, selection, list);
}

int FindAdaptersNT(Registry& registry, Binding& binding, AdapterSelectionPort& selection,
                   AdapterList& list)
{
    const int listed = ListAdaptersNT(registry, list);
    return listed != DISCOVERY_OK ? listed : OpenChosenAdapter(binding, selection, list);
}

}  // namespace tarvik
