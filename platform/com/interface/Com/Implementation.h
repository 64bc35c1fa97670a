// The one way for platform code to reach the object behind an interface that
// a caller handed in: checked, since any object may implement a Windows
// interface (a test's stand-in, another library's object, an object of
// another type behind the same interface).
#pragma once

#include <type_traits>

namespace Platform {

// The object of class Implementation behind Object; null when Object is null
// or is no Implementation.
template <typename Implementation, typename Interface>
Implementation* ImplementationOf(Interface* Object) noexcept
{
    static_assert(std::is_polymorphic_v<Interface>, "an interface");
    static_assert(std::is_base_of_v<Interface, Implementation> || std::is_polymorphic_v<Implementation>,
                  "a class that can stand behind the interface");
    return dynamic_cast<Implementation*>(Object);
}

} // namespace Platform
