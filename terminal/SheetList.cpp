#include "terminal/SheetList.h"

#include "platform/CodePage.h"
#include "serial/CommXEx.h"

#include <algorithm>

namespace pek {

const std::string& UntitledName()
{
    static const std::string text = Sjis("(無題)");
    return text;
}

std::shared_ptr<TCommXEx> Sheet::Port() const
{
    return port ? port : sharedPort.lock();
}

Sheet& SheetList::Add()
{
    sheets_.push_back(std::make_unique<Sheet>());
    return *sheets_.back();
}

std::unique_ptr<Sheet> SheetList::Remove(int index)
{
    if (!Contains(index)) return nullptr;
    auto sheet = std::move(sheets_[size_t(index)]);
    sheets_.erase(sheets_.begin() + index);
    return sheet;
}

int SheetList::IndexOfPort(const TCustomCommX& port) const
{
    for (size_t i = 0; i < sheets_.size(); ++i)
        if (sheets_[i]->Port().get() == &port) return int(i);
    return -1;
}

int SheetList::LowestFreePortNo() const
{
    int portNo = 1;
    while (std::any_of(sheets_.begin(), sheets_.end(), [&](const auto& s) { return s->port && s->port->PortNo() == portNo; }))
        ++portNo;
    return portNo;
}

}  // namespace pek
