# The registry entries the installer writes, as WiX XML, taken from the sources that define them
# for opcreg: the marshalled interfaces and the server categories from opc_da.idl, the class
# identities and names from server_identity.h. The installed registry is checked against opcreg's own
# expectations by the installer's end-to-end test.

file(READ ${PROJECT_SOURCE_DIR}/opc/include/opc_da.idl idl)
file(READ ${PROJECT_SOURCE_DIR}/opc/include/server_identity.h identity)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/opc/include/opc_da.idl
             ${PROJECT_SOURCE_DIR}/opc/include/server_identity.h)

# Sets `out` to the text of the first match group of `regex` in `text`; fails when there is none.
function(extract out text regex what)
  if(NOT text MATCHES "${regex}")
    message(FATAL_ERROR "installer: ${what} not found")
  endif()
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

extract(server_clsid "${identity}" "// ({[0-9A-F-]+})\n#define PARHELIONIX_OPC_SERVER_CLSID_INIT"
        "the server class")
extract(proxy_clsid "${identity}" "// ({[0-9A-F-]+})[^#]*#define PARHELIONIX_OPC_PROXY_CLSID_INIT"
        "the proxy/stub class")
extract(server_name "${identity}" "kServerClassName\\[\\] = L\"([^\"]+)\"" "the class name")
extract(prog_id "${identity}" "kServerProgId\\[\\] = L\"([^\"]+)\"" "the ProgID")
extract(independent_prog_id "${identity}" "kServerVersionIndependentProgId\\[\\] = L\"([^\"]+)\""
        "the version-independent ProgID")

# Every interface of the IDL: "[ attributes ] interface Name". Those with `local` are not
# marshalled (the category identifiers are declared that way).
string(REGEX MATCHALL "\\[[^]]*\\][ \t\n]*interface [A-Za-z0-9_]+" declarations "${idl}")
set(interfaces "")
foreach(declaration IN LISTS declarations)
  string(REGEX MATCH "uuid\\(([0-9a-fA-F-]+)\\)" _ "${declaration}")
  string(TOUPPER "{${CMAKE_MATCH_1}}" iid)
  string(REGEX MATCH "interface ([A-Za-z0-9_]+)$" _ "${declaration}")
  set(name ${CMAKE_MATCH_1})
  if(declaration MATCHES "[[ \t\n,]local[] \t\n,]")
    set(catid_${name} ${iid})
  else()
    list(APPEND interfaces "${name}=${iid}")
  endif()
endforeach()
list(LENGTH interfaces interface_count)
if(interface_count LESS 20 OR NOT catid_CATID_OPCDAServer10 OR NOT catid_CATID_OPCDAServer20
   OR NOT catid_CATID_OPCDAServer30)
  message(FATAL_ERROR "installer: opc_da.idl no longer reads as expected")
endif()

function(value_xml out key name value)
  if(name STREQUAL "")
    set(name_attribute "")
  else()
    set(name_attribute " Name=\"${name}\"")
  endif()
  string(REPLACE "\"" "&quot;" value "${value}")
  set(${out} "${${out}}          <RegistryValue Root=\"HKCR\" Key=\"${key}\"${name_attribute} Type=\"string\" Value=\"${value}\" />\n" PARENT_SCOPE)
endfunction()

# The class key of one view: COM starts the 64-bit server for clients of either bitness.
function(class_xml out)
  set(key "CLSID\\${server_clsid}")
  set(xml "")
  value_xml(xml "${key}" "" "${server_name}")
  value_xml(xml "${key}" "AppID" "${server_clsid}")
  value_xml(xml "${key}\\LocalServer32" "" "\"[#OPCServer.exe]\"")
  value_xml(xml "${key}\\ProgID" "" "${prog_id}")
  value_xml(xml "${key}\\VersionIndependentProgID" "" "${independent_prog_id}")
  # An empty key: the installer's name "*" with no value creates it and removes it on uninstall.
  foreach(catid ${catid_CATID_OPCDAServer10} ${catid_CATID_OPCDAServer20}
                ${catid_CATID_OPCDAServer30})
    value_xml(xml "${key}\\Implemented Categories\\${catid}" "*" "")
  endforeach()
  set(${out} "${xml}" PARENT_SCOPE)
endfunction()

# The ProgIDs, one key for both views.
function(prog_ids_xml out)
  set(xml "")
  value_xml(xml "${prog_id}" "" "${server_name}")
  value_xml(xml "${prog_id}\\CLSID" "" "${server_clsid}")
  value_xml(xml "${independent_prog_id}" "" "${server_name}")
  value_xml(xml "${independent_prog_id}\\CLSID" "" "${server_clsid}")
  value_xml(xml "${independent_prog_id}\\CurVer" "" "${prog_id}")
  set(${out} "${xml}" PARENT_SCOPE)
endfunction()

# The AppID (the class's own CLSID, as opcreg writes it), one key for both views: DCOM starts the
# server as the interactive user for clients on other machines too; the executable's entry ties
# the running OPCServer.exe to it.
function(app_id_xml out)
  set(xml "")
  value_xml(xml "AppID\\${server_clsid}" "" "${server_name}")
  value_xml(xml "AppID\\${server_clsid}" "RunAs" "Interactive User")
  value_xml(xml "AppID\\OPCServer.exe" "AppID" "${server_clsid}")
  set(${out} "${xml}" PARENT_SCOPE)
endfunction()

# The proxy/stub class of one view; `dll` is the file's id.
function(proxy_xml out dll)
  set(key "CLSID\\${proxy_clsid}")
  set(xml "")
  value_xml(xml "${key}" "" "Parhelionix OPC proxy/stub factory")
  value_xml(xml "${key}\\InprocServer32" "" "[#${dll}]")
  value_xml(xml "${key}\\InprocServer32" "ThreadingModel" "Both")
  set(${out} "${xml}" PARENT_SCOPE)
endfunction()

# Every interface's route to our proxy/stub class in one view (64 or 32), a component each.
# The interfaces are the published OPC ones: on a machine where another vendor's proxy/stub
# already marshals one, its route is left as it is (the component is not installed); a route of
# ours (an older version's) is taken over. The components are permanent: the installer never
# removes a route itself, since it looks at a component's condition only when installing and so
# at uninstall would also remove a route that another vendor's proxy/stub took after our
# install. The uninstall runs `opcreg /unregister-routes` instead (opcserver.wxs.in), which
# removes only the routes that still name our proxy/stub.
# Sets `out_components` (WiX XML), `out_searches` (the properties that read the routes found),
# `out_refs` (the feature's references) and `out_conditions` (the components' attributes and
# conditions, as make_msi.sh takes them: "component<TAB>attributes<TAB>condition" lines; wixl
# can write neither).
function(routes_xml out_components out_searches out_refs out_conditions view)
  # The attributes wixl gives a registry-keyed component (4, and 256 for the 64-bit view), and
  # 16: permanent.
  if(view EQUAL 64)
    set(win64 yes)
    set(attributes 276)
  else()
    set(win64 no)
    set(attributes 20)
  endif()
  set(components "")
  set(searches "")
  set(refs "")
  set(conditions "")
  foreach(entry IN LISTS interfaces)
    string(REPLACE "=" ";" pair "${entry}")
    list(GET pair 0 name)
    list(GET pair 1 iid)
    set(key "Interface\\${iid}")
    set(component "Route${view}_${name}")
    string(TOUPPER "ROUTE${view}_${name}" found)
    # One GUID per component for every build and version: derived from its name.
    string(UUID guid NAMESPACE ${OPC_UPGRADE_CODE} NAME ${component} TYPE SHA1 UPPER)
    set(xml "")
    value_xml(xml "${key}" "" "${name}")
    string(APPEND components
           "            <Component Id=\"${component}\" Guid=\"{${guid}}\" Win64=\"${win64}\">\n"
           "${xml}"
           "          <RegistryValue Root=\"HKCR\" Key=\"${key}\\ProxyStubClsid32\" Type=\"string\"\n"
           "                         Value=\"${proxy_clsid}\" KeyPath=\"yes\" />\n"
           "            </Component>\n")
    string(APPEND searches
           "    <Property Id=\"${found}\">\n"
           "      <RegistrySearch Id=\"${component}\" Root=\"HKCR\" Key=\"${key}\\ProxyStubClsid32\"\n"
           "                      Name=\"\" Type=\"raw\" Win64=\"${win64}\" />\n"
           "    </Property>\n")
    string(APPEND refs "      <ComponentRef Id=\"${component}\" />\n")
    string(APPEND conditions
           "${component}\t${attributes}\tNOT ${found} OR ${found} ~= \"${proxy_clsid}\"\n")
  endforeach()
  set(${out_components} "${components}" PARENT_SCOPE)
  set(${out_searches} "${searches}" PARENT_SCOPE)
  set(${out_refs} "${refs}" PARENT_SCOPE)
  set(${out_conditions} "${conditions}" PARENT_SCOPE)
endfunction()
