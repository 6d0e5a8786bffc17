// The SDK's small value wrappers: actors, game strings, replays and console variables.
#include "ConsoleVariables.h"
#include "SdkAccess.h"
#include "orvane/ActorWrapper.h"
#include "orvane/CVarWrapper.h"
#include "orvane/ReplayWrapper.h"
#include "orvane/UnrealStringWrapper.h"
#include "orvane/host/Host.h"

using devhost::Host;
using devhost::ReplayInfo;

ActorWrapper::ActorWrapper(std::uintptr_t address) : address(address) {}

std::uintptr_t ActorWrapper::GetAddress() const
{
    return address;
}

UnrealStringWrapper::UnrealStringWrapper(std::string text) : text(std::move(text)) {}

std::string UnrealStringWrapper::ToString() const
{
    return text;
}

namespace {

// Replays belong to the live host; an address it never handed out names nothing.
const ReplayInfo* FindReplay(std::uintptr_t address)
{
    Host* host = Host::Current();
    return host ? host->FindReplay(address) : nullptr;
}

} // namespace

ReplayWrapper::ReplayWrapper(std::uintptr_t address) : address(address) {}

ReplayWrapper::operator bool() const
{
    return FindReplay(address) != nullptr;
}

UnrealStringWrapper ReplayWrapper::GetId() const
{
    const ReplayInfo* replay = FindReplay(address);
    return UnrealStringWrapper(replay ? replay->id : std::string());
}

UnrealStringWrapper ReplayWrapper::GetDate() const
{
    const ReplayInfo* replay = FindReplay(address);
    return UnrealStringWrapper(replay ? replay->date : std::string());
}

CVarWrapper::CVarWrapper(void* variable) : variable(variable) {}

CVarWrapper::operator bool() const
{
    return variable != nullptr;
}

std::string CVarWrapper::getStringValue() const
{
    auto* target = SdkAccess::Variable(*this);
    return target ? target->Value() : std::string();
}

void CVarWrapper::setValue(std::string value)
{
    if (auto* target = SdkAccess::Variable(*this))
        target->SetValue(std::move(value));
}
