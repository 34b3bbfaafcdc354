"""Test stand-in for ansible.windows.win_command on a local POSIX host: the same arguments
run by ansible.builtin.command, which, like win_command, is skipped under --check."""
from ansible.plugins.action import ActionBase


class ActionModule(ActionBase):
    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        result.update(self._execute_module(module_name="ansible.builtin.command",
                                           module_args=self._task.args, task_vars=task_vars))
        return result
