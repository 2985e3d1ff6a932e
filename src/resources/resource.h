// Resource identifiers of the component.
#pragma once

#define IDS_PROJNAME 100
#define IDS_TITLEFileSourcePage 101
#define IDS_REGISTRY_KEY 102
