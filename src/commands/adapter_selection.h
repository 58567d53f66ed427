#pragma once
// The choice among the listed adapters at start-up, and the opening of the chosen one.

#include "netio/adapter_discovery.h"

namespace tarvik {

// The choice among two or more adapters: the desktop shows its selection dialog, the command
// line answers without asking. Whatever it does, Names[Selection] is opened afterwards.
class AdapterSelectionPort {
public:
    virtual ~AdapterSelectionPort() = default;
    virtual void SelectAdapter(AdapterList& list) = 0;
};

// Leaves Selection as it is (0): the adapter a selection dialog closed untouched gives.
class FirstAdapterSelection final : public AdapterSelectionPort {
public:
    void SelectAdapter(AdapterList&) override {}
};

// The choosing rule: with one adapter, Names[0]; with two or more, the selection step runs
// and Names[Selection] is chosen (a Selection out of range is set back to 0). Then the
// opening steps. list must hold at least one adapter.
int OpenChosenAdapter(Binding& binding, AdapterSelectionPort& selection, AdapterList& list);

// List, choose and open, per family. list receives the adapters found.
int FindAdapters9x(Registry& registry, Binding& binding, AdapterSelectionPort& selection,
                   AdapterList& list);
int FindAdaptersNT(Registry& registry, Binding& binding, AdapterSelectionPort& selection,
                   AdapterList& list);

}  // namespace tarvik
