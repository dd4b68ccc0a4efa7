#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: (c) 2026, Netrika developers
# MIT License (see LICENSE or https://opensource.org/licenses/MIT)
# SPDX-License-Identifier: MIT

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: scan
short_description: List the sign adaptors that answer on the site host's cable
description:
  - Runs C(netrika-cli scan) on the site host. It asks the link who has each
    address of each range (ARP requests with sender address 0.0.0.0, each
    address twice) and lists every answer from an adaptor, with the TCP ports
    (9999, 23, 3001) that take a connection where the adaptor is on a subnet
    of the host.
  - An adaptor with no address cannot answer ARP, and so cannot be found;
    M(netrika.fleet.adaptor) gives it one.
  - Only one scan runs at a time on a host; a /24 takes about 3 seconds, and
    a range may be at most a /20.
  - Changes nothing, so it never reports changed, and runs in check mode as
    it does otherwise.
version_added: 1.0.4
author:
  - Netrika developers (!UNKNOWN)
extends_documentation_fragment:
  - netrika.fleet.cli
options:
  interface:
    description:
      - Sweep on this Ethernet interface only. Without I(range), its own IPv4
        subnets are swept.
    type: str
  range:
    description:
      - Ranges to sweep instead of the host's subnets, each C(A.B.C.D/LEN)
        from /20 to /30. An adaptor answers for its address even where that
        lies on no subnet of the host.
    type: list
    elements: str
  all:
    description:
      - List every device that answers, not only the two adaptor families
        (family 0 for the others).
    type: bool
    default: false
notes:
  - Supports check mode; the scan sends nothing but ARP requests and
    connections closed without a byte sent.
  - Finding no adaptor is not a failure; I(adaptors) is then empty. A sweep
    that could not run, a malformed range or an unknown interface fails the
    task.
seealso:
  - module: netrika.fleet.adaptor
  - module: netrika.fleet.batch
'''

EXAMPLES = r'''
- name: Which adaptors answer on the site's subnets?
  netrika.fleet.scan:
  register: found

- name: Sweep a range the host has no address in, on eth0
  netrika.fleet.scan:
    interface: eth0
    range:
      - 10.61.1.0/24
      - 10.61.2.0/24

- name: Move each adaptor found to the address the inventory gives it
  netrika.fleet.adaptor:
    mac: "{{ item.mac }}"
    current_ip: "{{ item.address }}"
    ip: "{{ sign_addresses[item.mac] }}"
    mask: 255.255.255.0
    gateway: 10.1.9.254
  loop: "{{ found.adaptors }}"
  when: item.mac in sign_addresses
'''

RETURN = r'''
adaptors:
  description:
    - Each adaptor that answered, from the program's C(adaptor) events.
  returned: always
  type: list
  elements: dict
  contains:
    mac:
      description: The MAC, as the window writes it.
      type: str
    family:
      description: 1 (MAC beginning 00-20-4a), 2 (00-80-a3), or 0 for another maker with I(all).
      type: int
    address:
      description: The address it answers at.
      type: str
    interface:
      description: The interface it answered on.
      type: str
    ports_tried:
      description: Whether its ports were tried (false where it is on no subnet of the host).
      type: bool
    open_ports:
      description: Those of 9999, 23 and 3001 that took a connection, where tried.
      type: list
      elements: int
  sample:
    - {"mac": "00-80-a3-5c-00-02", "family": 2, "address": "10.77.91.22", "interface": "eth0", "ports_tried": true, "open_ports": [23, 3001]}
found:
  description: How many answered.
  returned: always
  type: int
  sample: 1
swept:
  description: Each range swept, as C(IF A.B.C.D/LEN).
  returned: always
  type: list
  elements: str
  sample: ["eth0 10.77.91.0/24"]
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.netrika.fleet.plugins.module_utils.netrika_cli import (
    CLI_OPTIONS,
    cli_program,
    events_named,
    fields,
    last_event,
    run_cli,
    why_not,
)


def main():
    options = dict(
        interface=dict(type='str'),
        range=dict(type='list', elements='str'),
        all=dict(type='bool', default=False),
    )
    options.update(CLI_OPTIONS)
    module = AnsibleModule(argument_spec=options, supports_check_mode=True)
    p = module.params

    argv = [cli_program(module), 'scan']
    if p['interface']:
        argv += ['--interface', p['interface']]
    for r in p['range'] or []:
        argv += ['--range', r]
    if p['all']:
        argv.append('--all')
    argv.append('--json')

    rc, events, err = run_cli(module, argv)
    adaptors = [fields(e) for e in events_named(events, 'adaptor')]
    end = last_event(events, 'end')
    outcome = dict(changed=False, adaptors=adaptors, found=len(adaptors),
                   swept=end.get('swept', []) if end else [])
    if end is None:
        module.fail_json(msg='the scan did not run: ' + why_not(rc, events, err), rc=rc, **outcome)
    if end.get('error'):
        module.fail_json(msg='the sweep could not run: {0}'.format(end['error']), rc=rc, **outcome)
    if end.get('cancelled'):
        module.fail_json(msg='the scan was interrupted', rc=rc, **outcome)
    # Status 1 with no error is a sweep that found nothing: no failure here.
    module.exit_json(**outcome)


if __name__ == '__main__':
    main()
