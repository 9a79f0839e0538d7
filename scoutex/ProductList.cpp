#include "ProductList.h"

#include "DiagLog.h"
#include "Text.h"

#include <cstring>
#include <new>

namespace
{
ProductNode* g_productList = nullptr;
}

void AddLastPXToLL(const char* productKey)
{
    ProductNode* node = new (std::nothrow) ProductNode;
    if (!node) {
        DiagLog("\n\n>ERROR( AddLastPXToLL ): Allocating memory.");
        return;
    }
    copyText(node->productKey, productKey);
    node->next = nullptr;
    DiagLog("\n>Last Pixora App: %s", node->productKey);

    if (!g_productList) {
        g_productList = node;
        return;
    }
    ProductNode* last = g_productList;
    while (last->next)
        last = last->next;
    last->next = node;
}

bool IsPXInLL(const char* productKey)
{
    for (const ProductNode* node = g_productList; node; node = node->next)
        if (std::strcmp(node->productKey, productKey) == 0)
            return true;
    return false;
}

void FreePXLL()
{
    while (g_productList) {
        ProductNode* next = g_productList->next;
        delete g_productList;
        g_productList = next;
    }
}
