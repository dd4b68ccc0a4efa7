# -*- coding: utf-8 -*-
# What every module of netrika.fleet documents alike: the program it runs on
# the site host, and what that host needs.
# Copyright: (c) 2026, Netrika developers
# MIT License (see LICENSE or https://opensource.org/licenses/MIT)
# SPDX-License-Identifier: MIT

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r'''
options:
  netrika_cli:
    description:
      - The program to run on the site host, a path or a name looked up on
        PATH.
    type: str
    default: netrika-cli
requirements:
  - The C(netrika) package on the site host, and a user running the task
    that is root or a member of the group C(netrika).
'''
