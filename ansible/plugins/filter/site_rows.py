# -*- coding: utf-8 -*-
# MIT licence, as the rest of Netrika.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
name: site_rows
short_description: The rows of one site from an inventory-wide sheet of adaptors
description:
  - Reads CSV text, as spreadsheets save it, whose header names a column for
    the site (C(site) unless I(column) says otherwise), and returns the rows
    of one site as a list of dicts, that column left out.
  - The separator is found as C(netrika-cli batch) finds it, from a first
    line C(sep=;) or else the most frequent of comma, semicolon and tab in
    the header (outside quotes), unless I(delimiter) gives it.
  - Column names are matched in any case, and kept as written; a byte-order
    mark and blanks around names and values are dropped. Blank lines and
    lines starting with C(#) are skipped, as the program skips them.
  - Runs on the controller. Only the selection is done here; every value is
    checked by C(netrika-cli) on the site host.
version_added: 1.0.4
author:
  - Netrika developers
options:
  _input:
    description: The CSV text, for example from C(lookup('ansible.builtin.file', path)).
    type: str
    required: true
  site:
    description: The site whose rows are wanted, usually C(inventory_hostname).
    type: str
    required: true
  column:
    description: The name of the column that names each row's site.
    type: str
    default: site
  delimiter:
    description: The separator, one of C(,) C(;) C(|) or C(tab); found from the text when empty.
    type: str
    default: ''
'''

EXAMPLES = r'''
- name: This site's rows of the fleet's sheet
  ansible.builtin.set_fact:
    rows: "{{ lookup('ansible.builtin.file', 'signs.csv') | netrika.fleet.site_rows(inventory_hostname) }}"
'''

RETURN = r'''
_value:
  description: The site's rows, each a dict from column name to value, in the order of the text.
  type: list
  elements: dict
'''

import csv
import io

from ansible.errors import AnsibleFilterError
from ansible.module_utils.common.text.converters import to_text

DELIMITERS = {',': ',', ';': ';', '|': '|', 'tab': '\t', '\\t': '\t'}


def _separator(header):
    counts = {',': 0, ';': 0, '\t': 0}
    quoted = False
    for c in header:
        if c == '"':
            quoted = not quoted
        elif not quoted and c in counts:
            counts[c] += 1
    best = ','
    for c in (';', '\t'):
        if counts[c] > counts[best]:
            best = c
    return best


def _skipped(line):
    t = line.strip()
    return not t or t.startswith('#')


def site_rows(text, site, column='site', delimiter=''):
    text = to_text(text).lstrip('\ufeff')
    lines = text.splitlines()
    if lines and len(lines[0]) == 5 and lines[0].lower().startswith('sep='):
        found = lines[0][4]
        text = '\n'.join(lines[1:])
    else:
        found = _separator(next((l for l in lines if not _skipped(l)), ''))
    if delimiter:
        if delimiter not in DELIMITERS:
            raise AnsibleFilterError('site_rows: delimiter {0!r}: one of , ; | or tab'.format(delimiter))
        found = DELIMITERS[delimiter]

    records = [r for r in csv.reader(io.StringIO(text), delimiter=found)
               if r and not _skipped(found.join(r))]
    if not records:
        raise AnsibleFilterError('site_rows: the sheet has no header line')
    header = [name.strip() for name in records[0]]
    wanted = [i for i, name in enumerate(header) if name.lower() == column.lower()]
    if not wanted:
        raise AnsibleFilterError('site_rows: the header {0} has no column {1}'.format(
            ','.join(header), column))
    at = wanted[0]
    rows = []
    for record in records[1:]:
        if at >= len(record) or record[at].strip() != site:
            continue
        rows.append(dict((name, record[i].strip() if i < len(record) else '')
                         for i, name in enumerate(header) if i != at and name))
    return rows


class FilterModule(object):
    def filters(self):
        return {'site_rows': site_rows}
