#!/usr/bin/env python3
"""Checks the add-in-only XML manifest for what Office requires of it (the schema itself is
only checked by Microsoft's online service): the elements a TaskPaneApp must have, in the
order the schema gives them, a GUID, https addresses under the base address, and a Ribbon
button whose every resource id is defined. Exit status 1 names each fault."""
import re
import sys
import xml.etree.ElementTree as ET

NS = {
    "o": "http://schemas.microsoft.com/office/appforoffice/1.1",
    "ov": "http://schemas.microsoft.com/office/taskpaneappversionoverrides",
    "bt": "http://schemas.microsoft.com/office/officeappbasictypes/1.0",
    "xsi": "http://www.w3.org/2001/XMLSchema-instance",
}
XSI_TYPE = "{%s}type" % NS["xsi"]
# The OfficeApp children of a TaskPaneApp, in schema order (those we use).
ORDER = ["Id", "Version", "ProviderName", "DefaultLocale", "DisplayName", "Description", "IconUrl",
         "HighResolutionIconUrl", "SupportUrl", "AppDomains", "Hosts", "Requirements", "DefaultSettings",
         "Permissions", "VersionOverrides"]
REQUIRED = {"Id", "Version", "ProviderName", "DefaultLocale", "DisplayName", "Description", "IconUrl",
            "SupportUrl", "DefaultSettings", "Permissions"}


def check(path: str, base: str) -> list[str]:
    faults = []
    root = ET.parse(path).getroot()
    if root.tag != "{%s}OfficeApp" % NS["o"] or root.get(XSI_TYPE) != "TaskPaneApp":
        return ["the root is not an OfficeApp of type TaskPaneApp"]
    names = [child.tag.split("}")[1] for child in root]
    for name in REQUIRED - set(names):
        faults.append(f"{name} is missing")
    known = [n for n in names if n in ORDER]
    if known != sorted(known, key=ORDER.index):
        faults.append(f"the elements are out of the schema's order: {known}")
    if not re.fullmatch(r"[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}", root.findtext("o:Id", "", NS)):
        faults.append("Id is not a GUID")
    if not re.fullmatch(r"\d+(\.\d+){0,3}", root.findtext("o:Version", "", NS)):
        faults.append("Version is not n.n.n.n")
    if root.find("o:Hosts/o:Host[@Name='Workbook']", NS) is None:
        faults.append("Excel (Workbook) is not a host")
    for element in root.iter():
        value = element.get("DefaultValue", "")
        if value.startswith("http") and not value.startswith(base + "/"):
            faults.append(f"{element.tag.split('}')[1]} is not under {base}: {value}")
        if "BASE_URL" in value:
            faults.append(f"{element.tag.split('}')[1]} still says BASE_URL")
    # A store reviewer's rules: the support link leads to a support page, not the task pane;
    # an AppDomain is a bare origin (no path, no trailing "/") other than the add-in's own.
    support = root.find("o:SupportUrl", NS)
    source = root.find("o:DefaultSettings/o:SourceLocation", NS)
    if support is not None and source is not None and support.get("DefaultValue") == source.get("DefaultValue"):
        faults.append("SupportUrl leads to the task pane, not a support page")
    origin = re.match(r"https://[^/]+", base)
    for domain in root.findall("o:AppDomains/o:AppDomain", NS):
        value = (domain.text or "").strip()
        if not re.fullmatch(r"https?://[^/]+", value):
            faults.append(f"AppDomain {value} is not a bare origin")
        elif origin and value == origin.group(0):
            faults.append(f"AppDomain {value} is the add-in's own origin")
    overrides = root.find("ov:VersionOverrides", NS)
    if overrides is None or overrides.get(XSI_TYPE) != "VersionOverridesV1_0":
        return faults + ["no VersionOverridesV1_0: no Ribbon button"]
    defined = {e.get("id") for e in overrides.iter() if e.get("id") and e.tag.startswith("{%s}" % NS["bt"])}
    for element in overrides.iter():
        resid = element.get("resid")
        if resid and resid not in defined:
            faults.append(f"resource {resid} is used but not defined")
    actions = overrides.findall(".//ov:Control/ov:Action", NS)
    if not any(a.get(XSI_TYPE) == "ShowTaskpane" for a in actions):
        faults.append("no button opens the task pane")
    for size in ("16", "32", "80"):
        if overrides.find(f".//ov:Control/ov:Icon/bt:Image[@size='{size}']", NS) is None:
            faults.append(f"the button has no {size}-pixel icon")
    return faults


if __name__ == "__main__":
    problems = check(sys.argv[1], sys.argv[2].rstrip("/"))
    for problem in problems:
        print(f"manifest.xml: {problem}", file=sys.stderr)
    sys.exit(1 if problems else 0)
