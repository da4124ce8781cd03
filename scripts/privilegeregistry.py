#!/usr/bin/env python3
"""Writes the server's privilege table as C++ from DMTF's data: the operation
maps of the Redfish Privilege Registry and, for each entity it names, the URIs
that the entity's unversioned JSON schema declares.
  privilegeregistry.py REGISTRY_JSON SCHEMA_DIR OUT_CPP
"""
import json
import os
import sys

METHODS = ['GET', 'HEAD', 'PATCH', 'PUT', 'DELETE', 'POST']  # order of Requirement rows
NAMES = {'Login': 'Login', 'ConfigureManager': 'ConfigureManager',
         'ConfigureUsers': 'ConfigureUsers', 'ConfigureSelf': 'ConfigureSelf',
         'ConfigureComponents': 'ConfigureComponents', 'NoAuth': None}
ROOT = '/redfish/v1'


def fail(text):
    sys.exit('privilegeregistry: ' + text)


def requirement(alternatives):
    """{count, {sets}}: any one alternative; all privileges inside one."""
    sets = []
    for alternative in alternatives:
        names = alternative['Privilege']
        for name in names:
            if name not in NAMES:
                fail('unknown privilege %r' % name)
        # NoAuth: no privilege at all, so any signed-in caller qualifies.
        sets.append(' | '.join(NAMES[n] for n in names if NAMES[n]) or '0')
    if len(sets) > 3:
        fail('more than three alternatives')
    return '{%d, {%s}}' % (len(sets), ', '.join(sets))


def operation_map(operations):
    for method in operations:
        if method not in METHODS:
            fail('unknown method %r' % method)
    return '{' + ', '.join(requirement(operations[m]) if m in operations else '{}'
                           for m in METHODS) + '}'


def entity_uris(schema_dir, entity):
    path = os.path.join(schema_dir, entity + '.json')
    if not os.path.exists(path):
        return []
    with open(path) as f:
        schema = json.load(f)
    uris = schema.get('definitions', {}).get(entity, {}).get('uris', [])
    patterns = []
    for uri in uris:
        uri = uri.rstrip('/')
        if uri != ROOT and not uri.startswith(ROOT + '/'):
            continue
        parts = uri[len(ROOT) + 1:].split('/') if uri != ROOT else []
        patterns.append('/'.join('*' if p.startswith('{') else p for p in parts))
    return patterns


def quoted(text):
    return json.dumps(text)  # the names and URIs are plain ASCII


def main():
    registry_path, schema_dir, out_path = sys.argv[1:4]
    with open(registry_path) as f:
        registry = json.load(f)
    mappings = registry['Mappings']
    index = {m['Entity']: i for i, m in enumerate(mappings)}
    lines = ['// Generated from %s and the URIs of DMTF\'s JSON schemas by'
             % os.path.basename(registry_path),
             '// scripts/privilegeregistry.py at build time; not edited by hand.',
             '#include "session/privilegeregistry.h"', '',
             'namespace privilegeregistry {', 'using namespace privilege;', '',
             'const EntityPrivileges kEntities[] = {']
    for m in mappings:
        lines.append('    {%s, %s},' % (quoted(m['Entity']), operation_map(m['OperationMap'])))
    lines += ['};', 'const size_t kEntityCount = sizeof(kEntities) / sizeof(kEntities[0]);', '',
              'const EntityUri kUris[] = {']
    seen = {}
    for m in mappings:
        for pattern in entity_uris(schema_dir, m['Entity']):
            if seen.get(pattern) == m['Entity']:
                continue  # "/redfish/v1" and "/redfish/v1/"
            if pattern in seen:
                fail('%s belongs to %s and %s' % (pattern, seen[pattern], m['Entity']))
            seen[pattern] = m['Entity']
            lines.append('    {%s, %d},' % (quoted(pattern), index[m['Entity']]))
    if not seen:
        fail('no entity URIs in ' + schema_dir)
    lines += ['};', 'const size_t kUriCount = sizeof(kUris) / sizeof(kUris[0]);', '',
              'const EntityOverride kOverrides[] = {']
    for m in mappings:
        for kind, key in (('Subordinate', 'SubordinateOverrides'),
                          ('Property', 'PropertyOverrides')):
            for o in m.get(key, []):
                lines.append('    {OverrideKind::%s, %d, %s, %s},' % (
                    kind, index[m['Entity']], quoted(','.join(o['Targets'])),
                    operation_map(o['OperationMap'])))
    lines += ['};', 'const size_t kOverrideCount = sizeof(kOverrides) / sizeof(kOverrides[0]);',
              '', '} // namespace privilegeregistry', '']
    text = '\n'.join(lines)
    # Rewritten only when changed: the build does not recompile for nothing.
    if not os.path.exists(out_path) or open(out_path).read() != text:
        with open(out_path, 'w') as f:
            f.write(text)


if __name__ == '__main__':
    main()
