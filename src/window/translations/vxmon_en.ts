<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>vx</name>
    <message>
        <source>你输入的定时时长格式有误，应该为数字，值范围为10-60000!</source>
        <translation>The cycle period you entered is malformed: it should be a number from 10 to 60000!</translation>
    </message>
    <message>
        <source>你输入的设备地址格式有误!</source>
        <translation>The device address you entered is malformed!</translation>
    </message>
    <message>
        <source>你输入的功能码格式有误!</source>
        <translation>The function code you entered is malformed!</translation>
    </message>
    <message>
        <source>你输入的数据长度格式有误!</source>
        <translation>The data length you entered is malformed!</translation>
    </message>
    <message>
        <source>你输入的起始地址格式有误!</source>
        <translation>The start address you entered is malformed!</translation>
    </message>
    <message>
        <source>你输入的数据长度格式有误,正确的值应该为1-24!</source>
        <translation>The data length you entered is malformed: it should be 1-24!</translation>
    </message>
    <message>
        <source>定时时长小于通信时间(约 %1 ms)，回复将无法接收</source>
        <translation>The period is shorter than the time on the wire (about %1 ms): replies cannot be received</translation>
    </message>
    <message>
        <source>运行模式</source>
        <translation>Run mode</translation>
    </message>
    <message>
        <source>值范围为：0 为主从模式 1为主动上传模式，2为间歇性主从模式 </source>
        <translation>Range: 0 master-slave, 1 active upload, 2 intermittent master-slave </translation>
    </message>
    <message>
        <source>休眠时间间隔</source>
        <translation>Sleep interval</translation>
    </message>
    <message>
        <source>值:1-65000，默认为22,约180秒,每个单位约8.912秒</source>
        <translation>1-65000, default 22 (about 180 s); one unit is about 8.912 s</translation>
    </message>
    <message>
        <source>开机待命时间间隔</source>
        <translation>Standby after power-on</translation>
    </message>
    <message>
        <source>值:1-60000，默认为10,每个单位约1秒</source>
        <translation>1-60000, default 10; one unit is about 1 s</translation>
    </message>
    <message>
        <source>开启无线模块电源延时时间</source>
        <translation>Radio power-on delay</translation>
    </message>
    <message>
        <source>值范围为：50-1000,默认200，每个单位约0.8mS</source>
        <translation>Range: 50-1000, default 200; one unit is about 0.8 ms</translation>
    </message>
    <message>
        <source>关闭无线模块断网延时时间</source>
        <translation>Radio power-off delay</translation>
    </message>
    <message>
        <source>值范围为：30-1000,默认50，每个单位约0.8mS</source>
        <translation>Range: 30-1000, default 50; one unit is about 0.8 ms</translation>
    </message>
    <message>
        <source>实际测点</source>
        <translation>Points in use</translation>
    </message>
    <message>
        <source>值范围为：1-36,主动上传时回复的测点总数</source>
        <translation>Range: 1-36, the points an active upload sends</translation>
    </message>
    <message>
        <source>你输入的原设备地址格式有误!</source>
        <translation>The old device address you entered is malformed!</translation>
    </message>
    <message>
        <source>你输入的目标设备地址格式有误!</source>
        <translation>The new device address you entered is malformed!</translation>
    </message>
    <message>
        <source>你输入的原设备地址超出范围,正确的值应该为0-255!</source>
        <translation>The old device address you entered is out of range: it should be 0-255!</translation>
    </message>
    <message>
        <source>你输入的目标设备地址超出范围,正确的值应该为0-255!</source>
        <translation>The new device address you entered is out of range: it should be 0-255!</translation>
    </message>
    <message>
        <source>你输入的设备地址格式有误,正确的值应该为0-255!</source>
        <translation>The device address you entered is malformed: it should be 0-255!</translation>
    </message>
    <message>
        <source>你输入的</source>
        <translation>The value of </translation>
    </message>
    <message>
        <source>格式有误,正确的值应该为0-65535!</source>
        <translation> you entered is malformed: it should be 0-65535!</translation>
    </message>
    <message>
        <source> [前 %1 字节略去]</source>
        <translation> [first %1 bytes left out]</translation>
    </message>
    <message>
        <source>打开串口出错，请确定串口是否已被占用</source>
        <translation>Cannot open the serial port: make sure no other program is using it</translation>
    </message>
    <message>
        <source>等待响应中...(如果3秒内未响应，请检查命令或硬件！)</source>
        <translation>Waiting for the reply... (if none comes within 3 s, check the command or the hardware!)</translation>
    </message>
    <message>
        <source>高温</source>
        <translation>High temperature</translation>
    </message>
    <message>
        <source>热点</source>
        <translation>Hot point</translation>
    </message>
    <message>
        <source>温升过快</source>
        <translation>Fast rise</translation>
    </message>
    <message>
        <source>传感器故障</source>
        <translation>Sensor fault</translation>
    </message>
    <message>
        <source>电缆无响应</source>
        <translation>Cable silent</translation>
    </message>
    <message>
        <source>%1 s 无应答</source>
        <translation>no reply for %1 s</translation>
    </message>
    <message>
        <source>无读数</source>
        <translation>no reading</translation>
    </message>
    <message>
        <source>超出量程</source>
        <translation>out of range</translation>
    </message>
    <message>
        <source>上电值 85.00</source>
        <translation>power-on value 85.00</translation>
    </message>
    <message>
        <source>跳变 %1 °C</source>
        <translation>jump of %1 °C</translation>
    </message>
    <message>
        <source>高温限</source>
        <translation>High limit</translation>
    </message>
    <message>
        <source>热点温差</source>
        <translation>Hot-point difference</translation>
    </message>
    <message>
        <source>温升速率</source>
        <translation>Rate of rise</translation>
    </message>
    <message>
        <source>温升时段（小时）</source>
        <translation>Rise window (hours)</translation>
    </message>
    <message>
        <source>跳变幅度</source>
        <translation>Jump size</translation>
    </message>
    <message>
        <source>无响应判定（分钟）</source>
        <translation>Silent after (minutes)</translation>
    </message>
    <message>
        <source>温度限</source>
        <translation>Temperature limit</translation>
    </message>
    <message>
        <source>%1 %2 超出范围 %3 ~ %4</source>
        <translation>%1 %2 is outside %3 ~ %4</translation>
    </message>
    <message>
        <source>%1 &quot;%2&quot; 不是数字</source>
        <translation>%1 &quot;%2&quot; is not a number</translation>
    </message>
    <message>
        <source>无法写入 %1</source>
        <translation>Cannot write %1</translation>
    </message>
    <message>
        <source>单独高温限 &quot;%1&quot; 应为 电缆=温度 或 电缆.层=温度（电缆 1-%2，层 1-%3，温度 %4 ~ %5）</source>
        <translation>Own high limit &quot;%1&quot; should be cable=temperature or cable.layer=temperature (cable 1-%2, layer 1-%3, temperature %4 ~ %5)</translation>
    </message>
    <message>
        <source>本次共导入%1个序列号</source>
        <translation>%1 serial numbers imported</translation>
    </message>
    <message>
        <source>&quot; [无效]</source>
        <translation>&quot; [invalid]</translation>
    </message>
    <message>
        <source>不是 8 字节的序列号</source>
        <translation>not an 8-byte serial number</translation>
    </message>
    <message>
        <source>无传感器（全 00）</source>
        <translation>no sensor (all 00)</translation>
    </message>
    <message>
        <source>无传感器（全 FF）</source>
        <translation>no sensor (all FF)</translation>
    </message>
    <message>
        <source>CRC-8 校验错误：末字节 %1，应为 %2</source>
        <translation>CRC-8 error: last byte %1, should be %2</translation>
    </message>
    <message>
        <source>未知器件族 %1</source>
        <translation>unknown device family %1</translation>
    </message>
    <message>
        <source>重复：与%1相同</source>
        <translation>duplicate: same as %1</translation>
    </message>
    <message>
        <source>位置%1</source>
        <translation>position %1</translation>
    </message>
    <message>
        <source>良好 %1，CRC 错误 %2，未知器件族 %3，重复 %4</source>
        <translation>good %1, CRC errors %2, unknown family %3, duplicates %4</translation>
    </message>
    <message>
        <source>，无传感器 %1</source>
        <translation>, no sensor %1</translation>
    </message>
    <message>
        <source>位置%1：%2</source>
        <translation>Position %1: %2</translation>
    </message>
    <message>
        <source>设备地址</source>
        <translation>Device address</translation>
    </message>
    <message>
        <source>你输入的%1超出范围,正确的值应该为0-255!</source>
        <translation>The %1 you entered is out of range: it should be 0-255!</translation>
    </message>
    <message>
        <source>通道号</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>读取总数</source>
        <translation>Count to read</translation>
    </message>
    <message>
        <source>通道数</source>
        <translation>Channels</translation>
    </message>
    <message>
        <source>传感器序号</source>
        <translation>Sensor number</translation>
    </message>
    <message>
        <source>你输入的序列号第%1个字节格式有误,正确的值应该为00-FF!</source>
        <translation>Byte %1 of the serial number you entered is malformed: it should be 00-FF!</translation>
    </message>
    <message>
        <source>位置编号</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>#设备,通道</source>
        <translation># device, channel </translation>
    </message>
    <message>
        <source>下：</source>
        <translation>:</translation>
    </message>
    <message>
        <source>&quot;  [无效]</source>
        <translation>&quot;  [invalid]</translation>
    </message>
    <message>
        <source>#设备下：</source>
        <translation># device:</translation>
    </message>
    <message>
        <source>通道</source>
        <translation>Channel </translation>
    </message>
    <message>
        <source> 发现传感器个数为：</source>
        <translation> sensors found: </translation>
    </message>
    <message>
        <source>导入到 </source>
        <translation>To channel </translation>
    </message>
    <message>
        <source>通道 </source>
        <translation>, position </translation>
    </message>
    <message>
        <source>#位置 [成功]</source>
        <translation> [written]</translation>
    </message>
    <message>
        <source>#位置 [失败]</source>
        <translation> [failed]</translation>
    </message>
    <message>
        <source>设备%1 通道%2 位置%3</source>
        <translation>device %1 channel %2 position %3</translation>
    </message>
    <message>
        <source>序列号检查：</source>
        <translation>Serial-number check: </translation>
    </message>
    <message>
        <source>请指定正确的模块及通道编号</source>
        <translation>Name a valid device and channel</translation>
    </message>
    <message>
        <source>你输入的读取总数格式有误,正确的值应该为0-65的整数!</source>
        <translation>The count to read you entered is malformed: it should be a whole number from 0 to 65!</translation>
    </message>
    <message>
        <source>无法写入文件 %1，序列号未保存!</source>
        <translation>Cannot write the file %1; the serial numbers were not saved!</translation>
    </message>
    <message>
        <source>输入的文件数据格式有误！请检查</source>
        <translation>The file&apos;s data is malformed! Please check it</translation>
    </message>
    <message>
        <source>请按正确的格式，先导入正确的传感器序列号</source>
        <translation>Import valid sensor serial numbers in the right format first</translation>
    </message>
    <message>
        <source>操作结束</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>打开文件</source>
        <translation>Open file</translation>
    </message>
    <message>
        <source>序列号文件 (*.txt);;所有文件（*） (*)</source>
        <translation>Serial-number files (*.txt);;All files (*)</translation>
    </message>
    <message>
        <source>导入的序列号列表有误（列表文件未改动）：
%1

按“确定”按原样写入，按“取消”停止。</source>
        <translation>The imported serial-number list has problems (the list file is unchanged):
%1

Press &quot;OK&quot; to write it as it is, &quot;Cancel&quot; to stop.</translation>
    </message>
    <message>
        <source>序列号检查</source>
        <translation>Serial-number check</translation>
    </message>
    <message>
        <source>已是最后一个了</source>
        <translation>That was the last one</translation>
    </message>
    <message>
        <source>你输入的定时时长格式有误,正确的值应该为正整数(毫秒)!</source>
        <translation>The period you entered is malformed: it should be a positive whole number (ms)!</translation>
    </message>
    <message>
        <source>请选择端口</source>
        <translation>Choose a port</translation>
    </message>
    <message>
        <source>所选的串行端口已被其他设备所使用!</source>
        <translation>The selected serial port is in use by another device!</translation>
    </message>
    <message>
        <source>系统信息</source>
        <translation>System information</translation>
    </message>
    <message>
        <source>串口设置保存失败，无法写入文件：</source>
        <translation>Cannot save the port settings: cannot write the file </translation>
    </message>
    <message>
        <source>系统提示</source>
        <translation>System notice</translation>
    </message>
    <message>
        <source>串口设置保存成功</source>
        <translation>Port settings saved</translation>
    </message>
    <message>
        <source>将地址       改为</source>
        <translation>Change address              to</translation>
    </message>
    <message>
        <source>执行</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>读地址</source>
        <translation>Read address</translation>
    </message>
    <message>
        <source>设备地址修改与查询操作</source>
        <translation>Change and read the device address</translation>
    </message>
    <message>
        <source>本栏操作仅限于一个无线设备电源开启时使用，若多个相同地址的设备开启时，则所有相同地址的设备地址将全部被更改。</source>
        <translation>Use this only with one wireless device powered on: every powered device with the same address gets the new address.</translation>
    </message>
    <message>
        <source>地址值范围为：1-245</source>
        <translation>Addresses range from 1 to 245</translation>
    </message>
    <message>
        <source>参数设置</source>
        <translation>Parameters</translation>
    </message>
    <message>
        <source>读取</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Set</translation>
    </message>
    <message>
        <source>VX7310K-42无线动态数据监测软件</source>
        <translation>VX7310K-42 Wireless Dynamic Data Monitor</translation>
    </message>
    <message>
        <source>设备地址范围 1-245；串口格式：无校验，8 位数据位，1 位停止位。</source>
        <translation>Device addresses 1-245; serial format: no parity, 8 data bits, 1 stop bit.</translation>
    </message>
    <message>
        <source>MODBUS设置</source>
        <translation>MODBUS settings</translation>
    </message>
    <message>
        <source>功 能 码</source>
        <translation>Function</translation>
    </message>
    <message>
        <source>超始地址</source>
        <translation>Start address</translation>
    </message>
    <message>
        <source>数据长度</source>
        <translation>Data length</translation>
    </message>
    <message>
        <source>串口设置</source>
        <translation>Serial port</translation>
    </message>
    <message>
        <source>保存设置</source>
        <translation>Save settings</translation>
    </message>
    <message>
        <source>串口号</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>运行状态指示</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>误码率</source>
        <translation>Error rate</translation>
    </message>
    <message>
        <source>测试统计</source>
        <translation>Test counts</translation>
    </message>
    <message>
        <source>1-10#电缆</source>
        <translation>Cables 1-10</translation>
    </message>
    <message>
        <source>11-20#电缆</source>
        <translation>Cables 11-20</translation>
    </message>
    <message>
        <source>21-30#电缆</source>
        <translation>Cables 21-30</translation>
    </message>
    <message>
        <source>31-40#电缆</source>
        <translation>Cables 31-40</translation>
    </message>
    <message>
        <source>单机参数设置</source>
        <translation>Device parameters</translation>
    </message>
    <message>
        <source>单机传感器设置</source>
        <translation>Device sensors</translation>
    </message>
    <message>
        <source>

用于无线数据采集设备的数据查询、传感器序列号管理与设备参数配置。
数据日志保存在程序目录的 data 文件夹中，原始接收记录保存在 dataGet.txt。</source>
        <translation>

Queries wireless data collectors, manages sensor serial numbers and configures devices.
Data logs are kept in the data folder of the program directory; raw received records in dataGet.txt.</translation>
    </message>
    <message>
        <source>关于软件</source>
        <translation>About</translation>
    </message>
    <message>
        <source>二次开发命令观察窗口</source>
        <translation>Command monitor for integrators</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>发送命令:</source>
        <translation>Sent:</translation>
    </message>
    <message>
        <source>接收命令:</source>
        <translation>Received:</translation>
    </message>
    <message>
        <source>数据查询操作</source>
        <translation>Data query</translation>
    </message>
    <message>
        <source>多模块循环</source>
        <translation>Cycle all devices</translation>
    </message>
    <message>
        <source>主动上传模式</source>
        <translation>Active upload mode</translation>
    </message>
    <message>
        <source>单次</source>
        <translation>Once</translation>
    </message>
    <message>
        <source>循环</source>
        <translation>Repeat</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>定时时长(ms)</source>
        <translation>Period (ms)</translation>
    </message>
    <message>
        <source>最大循环ID</source>
        <translation>Highest cycle ID</translation>
    </message>
    <message>
        <source>粮情总览</source>
        <translation>Grain overview</translation>
    </message>
    <message>
        <source>报警设置有误，已用默认值：%1</source>
        <translation>The alarm settings have errors; the defaults are used: %1</translation>
    </message>
    <message>
        <source>报警</source>
        <translation>Alarms</translation>
    </message>
    <message>
        <source>历史曲线</source>
        <translation>Trends</translation>
    </message>
    <message>
        <source>日报</source>
        <translation>Daily report</translation>
    </message>
    <message>
        <source>循环运行中 (周期 %1 ms)</source>
        <translation>Cycling (period %1 ms)</translation>
    </message>
    <message>
        <source>定时查询中</source>
        <translation>Periodic query</translation>
    </message>
    <message>
        <source>报警设置未保存：%1</source>
        <translation>Alarm settings not saved: %1</translation>
    </message>
    <message>
        <source>报警 %1</source>
        <translation>Alarms %1</translation>
    </message>
    <message>
        <source>报警 (%1)</source>
        <translation>Alarms (%1)</translation>
    </message>
    <message>
        <source>设备地址 %1：无响应</source>
        <translation>Device address %1: silent</translation>
    </message>
    <message>
        <source>设备地址 %1</source>
        <translation>Device address %1</translation>
    </message>
    <message>
        <source>查看模式：数据来自数据库，不向总线发送</source>
        <translation>Viewer: the data come from a database; nothing is sent on the bus</translation>
    </message>
    <message>
        <source>查看模式：读取 %1，不写入</source>
        <translation>Viewer: reading %1, writing nothing</translation>
    </message>
    <message>
        <source>无法打开数据库：%1（读数只写入文本日志）</source>
        <translation>Cannot open the database: %1 (readings go to the text logs only)</translation>
    </message>
    <message>
        <source>数据存储</source>
        <translation>Data store</translation>
    </message>
    <message>
        <source>待上传读数：%1%2</source>
        <translation>Readings to upload: %1%2</translation>
    </message>
    <message>
        <source>（中心数据库无法连接）</source>
        <translation> (central database unreachable)</translation>
    </message>
    <message>
        <source>待上传读数：%1</source>
        <translation>Readings to upload: %1</translation>
    </message>
    <message>
        <source>数据库：%1</source>
        <translation>Database: %1</translation>
    </message>
    <message>
        <source>无法写入文件 %1，记录未保存（本次运行只提示一次）</source>
        <translation>Cannot write the file %1; records were not saved (said once per run)</translation>
    </message>
    <message>
        <source>接收积压超过 %1 KB：%2 字节未能处理（对话框打开期间）</source>
        <translation>Receive backlog over %1 KB: %2 bytes not processed (while a dialog was open)</translation>
    </message>
    <message>
        <source>传感器表无法写入：%1</source>
        <translation>Cannot write the sensor map: %1</translation>
    </message>
    <message>
        <source>%1#设备 通道%2 位置%3 传感器已更换: %4 → %5</source>
        <translation>%1# device channel %2 position %3 sensor replaced: %4 → %5</translation>
    </message>
    <message>
        <source>数据库不可用：%1</source>
        <translation>Database unavailable: %1</translation>
    </message>
    <message>
        <source>comm.set 内容无效，已使用默认设置 COM1, 9600</source>
        <translation>comm.set is invalid; the defaults COM1, 9600 are used</translation>
    </message>
    <message>
        <source>查看模式：数据来自 %1，不打开串口</source>
        <translation>Viewer: data from %1; no serial port is opened</translation>
    </message>
    <message>
        <source>请检查串口端口,串口端口%1无法打开!</source>
        <translation>Please check the serial port: port %1 cannot be opened!</translation>
    </message>
    <message>
        <source>KELP系统出错提示</source>
        <translation>KELP system error</translation>
    </message>
    <message>
        <source>串口 COM%1（%2）已断开：请检查设备，然后在“串口号”中重新选择端口</source>
        <translation>Serial port COM%1 (%2) disconnected: check the device, then choose the port again under &quot;Port&quot;</translation>
    </message>
    <message>
        <source>无响应：3 秒内未收到应答，请检查命令或硬件</source>
        <translation>No reply: nothing came within 3 s; check the command or the hardware</translation>
    </message>
    <message>
        <source>平均</source>
        <translation>Mean</translation>
    </message>
    <message>
        <source>最高</source>
        <translation>Max</translation>
    </message>
    <message>
        <source>最低</source>
        <translation>Min</translation>
    </message>
    <message>
        <source>%1层</source>
        <translation>Layer %1</translation>
    </message>
    <message>
        <source>无</source>
        <translation>none</translation>
    </message>
    <message>
        <source>超限</source>
        <translation>range</translation>
    </message>
    <message>
        <source>无温度：尚无读数、无读数、可疑 85.00、电缆无响应</source>
        <translation>No temperature: no reading yet, no reading, suspect 85.00, cable silent</translation>
    </message>
    <message>
        <source>电缆%1 层%2</source>
        <translation>Cable %1 layer %2</translation>
    </message>
    <message>
        <source>
尚无读数</source>
        <translation>
No reading yet</translation>
    </message>
    <message>
        <source>（上电值，可疑）</source>
        <translation> (power-on value, suspect)</translation>
    </message>
    <message>
        <source>（超出量程）</source>
        <translation> (out of range)</translation>
    </message>
    <message>
        <source>
读数时间 %1
原始值 %2</source>
        <translation>
Read at %1
Raw value %2</translation>
    </message>
    <message>
        <source>
电缆无响应</source>
        <translation>
Cable silent</translation>
    </message>
    <message>
        <source>色标：蓝</source>
        <translation>Colour scale: blue</translation>
    </message>
    <message>
        <source>至红</source>
        <translation>to red</translation>
    </message>
    <message>
        <source>全仓：尚无温度</source>
        <translation>Bin: no temperature yet</translation>
    </message>
    <message>
        <source>全仓：平均 %1 °C，最高 %2 °C（电缆%3 层%4），最低 %5 °C</source>
        <translation>Bin: mean %1 °C, max %2 °C (cable %3 layer %4), min %5 °C</translation>
    </message>
    <message>
        <source>；电缆：应答 %1，无响应 %2，未见 %3</source>
        <translation>; cables: answering %1, silent %2, never seen %3</translation>
    </message>
    <message>
        <source>报警设置</source>
        <translation>Alarm settings</translation>
    </message>
    <message>
        <source>每行一项：电缆=温度（如 3=35）或 电缆.层=温度（如 3.5=28）</source>
        <translation>One per line: cable=temperature (e.g. 3=35) or cable.layer=temperature (e.g. 3.5=28)</translation>
    </message>
    <message>
        <source>高温限 (°C)</source>
        <translation>High limit (°C)</translation>
    </message>
    <message>
        <source>热点：高于层平均 (°C)</source>
        <translation>Hot point: above the layer mean (°C)</translation>
    </message>
    <message>
        <source>温升速率 (°C/天)</source>
        <translation>Rate of rise (°C/day)</translation>
    </message>
    <message>
        <source>温升时段 (小时)</source>
        <translation>Rise window (hours)</translation>
    </message>
    <message>
        <source>跳变幅度 (°C)</source>
        <translation>Jump size (°C)</translation>
    </message>
    <message>
        <source>无响应判定 (分钟，0 为自动)</source>
        <translation>Silent after (minutes, 0: automatic)</translation>
    </message>
    <message>
        <source>单独高温限</source>
        <translation>Own high limits</translation>
    </message>
    <message>
        <source>温升时段</source>
        <translation>Rise window</translation>
    </message>
    <message>
        <source>无响应判定</source>
        <translation>Silent after</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>电缆</source>
        <translation>Cable</translation>
    </message>
    <message>
        <source>层</source>
        <translation>Layer</translation>
    </message>
    <message>
        <source>数值</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>规则</source>
        <translation>Rule</translation>
    </message>
    <message>
        <source>说明</source>
        <translation>Detail</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>State</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>Acknowledge</translation>
    </message>
    <message>
        <source>全部确认</source>
        <translation>Acknowledge all</translation>
    </message>
    <message>
        <source>报警设置…</source>
        <translation>Alarm settings…</translation>
    </message>
    <message>
        <source>报警中</source>
        <translation>Active</translation>
    </message>
    <message>
        <source>已确认</source>
        <translation>Acknowledged</translation>
    </message>
    <message>
        <source>已解除</source>
        <translation>Cleared</translation>
    </message>
    <message>
        <source>电缆，如 1-3,7</source>
        <translation>Cables, e.g. 1-3,7</translation>
    </message>
    <message>
        <source>层，如 1,9,18</source>
        <translation>Layers, e.g. 1,9,18</translation>
    </message>
    <message>
        <source>最近24小时</source>
        <translation>Last 24 hours</translation>
    </message>
    <message>
        <source>最近7天</source>
        <translation>Last 7 days</translation>
    </message>
    <message>
        <source>最近30天</source>
        <translation>Last 30 days</translation>
    </message>
    <message>
        <source>最近一年</source>
        <translation>Last year</translation>
    </message>
    <message>
        <source>指定日期</source>
        <translation>Chosen dates</translation>
    </message>
    <message>
        <source>绘制</source>
        <translation>Draw</translation>
    </message>
    <message>
        <source>复位</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>导出CSV…</source>
        <translation>Export CSV…</translation>
    </message>
    <message>
        <source>导出图片…</source>
        <translation>Export image…</translation>
    </message>
    <message>
        <source>导出曲线数据</source>
        <translation>Export trend data</translation>
    </message>
    <message>
        <source>已导出 %1</source>
        <translation>Exported %1</translation>
    </message>
    <message>
        <source>导出失败：%1</source>
        <translation>Export failed: %1</translation>
    </message>
    <message>
        <source>导出曲线图片</source>
        <translation>Export trend image</translation>
    </message>
    <message>
        <source>导出失败：无法写入 %1</source>
        <translation>Export failed: cannot write %1</translation>
    </message>
    <message>
        <source>电缆应如 1-3,7</source>
        <translation>Cables should be like 1-3,7</translation>
    </message>
    <message>
        <source>层应如 1,9,18</source>
        <translation>Layers should be like 1,9,18</translation>
    </message>
    <message>
        <source>结束日期应晚于起始日期</source>
        <translation>The end date should be after the start date</translation>
    </message>
    <message>
        <source>一次最多 32 条曲线</source>
        <translation>At most 32 curves at a time</translation>
    </message>
    <message>
        <source>数据库不可用</source>
        <translation>Database unavailable</translation>
    </message>
    <message>
        <source>%1 条曲线，%2 个点（每点为该时段的平均，悬停可见时间与数值），用时 %3 ms</source>
        <translation>%1 curves, %2 points (each the mean of its slice; hover for time and value), %3 ms</translation>
    </message>
    <message>
        <source>所选时段没有读数</source>
        <translation>No readings in the chosen span</translation>
    </message>
    <message>
        <source>%1：当天没有读数</source>
        <translation>%1: no readings that day</translation>
    </message>
    <message>
        <source>%1 全仓：最低 %2 °C，最高 %3 °C（电缆%4 层%5），平均 %6 °C，读数 %7 个；报警 %8 条</source>
        <translation>%1 bin: min %2 °C, max %3 °C (cable %4 layer %5), mean %6 °C, %7 readings; %8 alarms</translation>
    </message>
    <message>
        <source>生成</source>
        <translation>Make</translation>
    </message>
    <message>
        <source>保存PDF…</source>
        <translation>Save PDF…</translation>
    </message>
    <message>
        <source>保存CSV…</source>
        <translation>Save CSV…</translation>
    </message>
    <message>
        <source>日期</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>保存日报</source>
        <translation>Save daily report</translation>
    </message>
    <message>
        <source>保存失败：%1</source>
        <translation>Saving failed: %1</translation>
    </message>
    <message>
        <source>电缆%1</source>
        <translation>Cable %1</translation>
    </message>
    <message>
        <source>最低 %1 °C，最高 %2 °C</source>
        <translation>Min %1 °C, max %2 °C</translation>
    </message>
    <message>
        <source>数据采集通讯状态指示</source>
        <translation>Link status</translation>
    </message>
    <message>
        <source>状态观察窗</source>
        <translation>Status pane</translation>
    </message>
    <message>
        <source>清空观察窗</source>
        <translation>Clear pane</translation>
    </message>
    <message>
        <source>传感器序列号自动搜索</source>
        <translation>Search sensor serial numbers</translation>
    </message>
    <message>
        <source>自动搜索</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>读传感器序列号</source>
        <translation>Read sensor serial numbers</translation>
    </message>
    <message>
        <source>读序列号</source>
        <translation>Read serials</translation>
    </message>
    <message>
        <source>保存序列号</source>
        <translation>Save serials</translation>
    </message>
    <message>
        <source>批量导入序列号到设备</source>
        <translation>Write serial numbers from a list</translation>
    </message>
    <message>
        <source>从文件导入</source>
        <translation>Import from file</translation>
    </message>
    <message>
        <source>序列号校对窗口</source>
        <translation>Serial-number check pane</translation>
    </message>
    <message>
        <source>64位一线传感器序列号</source>
        <translation>64-bit 1-Wire sensor serial number</translation>
    </message>
    <message>
        <source>(十六进制)</source>
        <translation>(hexadecimal)</translation>
    </message>
    <message>
        <source>定时时长</source>
        <translation>Period</translation>
    </message>
    <message>
        <source>第一个</source>
        <translation>First</translation>
    </message>
    <message>
        <source>下一个</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>自动导入</source>
        <translation>Write all</translation>
    </message>
    <message>
        <source>停止导入</source>
        <translation>Stop writing</translation>
    </message>
    <message>
        <source>写传感器序列号</source>
        <translation>Write a sensor serial number</translation>
    </message>
    <message>
        <source>操作前请确保传感器已接入到需要操作的设备指定通道</source>
        <translation>Before you start, connect the sensor to the chosen channel of the device</translation>
    </message>
    <message>
        <source>手动读入</source>
        <translation>Read in by hand</translation>
    </message>
    <message>
        <source>全部，或如 1-36,40</source>
        <translation>All, or e.g. 1-36,40</translation>
    </message>
    <message>
        <source>每个读数一行</source>
        <translation>One row per reading</translation>
    </message>
    <message>
        <source>每帧一行（每个测点一列）</source>
        <translation>One row per frame (a column per point)</translation>
    </message>
    <message>
        <source>起始时间</source>
        <translation>From</translation>
    </message>
    <message>
        <source>结束时间（不含）</source>
        <translation>To (not included)</translation>
    </message>
    <message>
        <source>行格式</source>
        <translation>Rows</translation>
    </message>
    <message>
        <source>导出传感器表…</source>
        <translation>Export sensor map…</translation>
    </message>
    <message>
        <source>导入传感器表…</source>
        <translation>Import sensor map…</translation>
    </message>
    <message>
        <source>查看模式打开…</source>
        <translation>Open as viewer…</translation>
    </message>
    <message>
        <source>另开一个只读窗口：不打开串口，显示数据库中的读数（如 vxcollect 写入的）</source>
        <translation>Another, read-only window: no serial port, the readings in a database (such as the one vxcollect writes)</translation>
    </message>
    <message>
        <source>查看模式：选择数据库</source>
        <translation>Viewer: choose a database</translation>
    </message>
    <message>
        <source>数据库 (*.db);;所有文件 (*)</source>
        <translation>Databases (*.db);;All files (*)</translation>
    </message>
    <message>
        <source>无法启动查看窗口</source>
        <translation>Cannot start the viewer</translation>
    </message>
    <message>
        <source>数据库：%1
本次运行已保存读数：%2</source>
        <translation>Database: %1
Readings saved this run: %2</translation>
    </message>
    <message>
        <source>
中心数据库：%1，待上传读数：%2</source>
        <translation>
Central database: %1, readings to upload: %2</translation>
    </message>
    <message>
        <source>已连接</source>
        <translation>connected</translation>
    </message>
    <message>
        <source>无法连接</source>
        <translation>unreachable</translation>
    </message>
    <message>
        <source>
数据库无法写入，丢失读数：%1</source>
        <translation>
The database cannot be written; readings lost: %1</translation>
    </message>
    <message>
        <source>导出传感器表</source>
        <translation>Export sensor map</translation>
    </message>
    <message>
        <source>传感器表已导出到 %1（%2 个位置）</source>
        <translation>Sensor map exported to %1 (%2 places)</translation>
    </message>
    <message>
        <source>传感器表导出失败：%1</source>
        <translation>Sensor map export failed: %1</translation>
    </message>
    <message>
        <source>导入传感器表</source>
        <translation>Import sensor map</translation>
    </message>
    <message>
        <source>已导入传感器表：%1 个位置</source>
        <translation>Sensor map imported: %1 places</translation>
    </message>
    <message>
        <source>传感器表导入失败：%1</source>
        <translation>Sensor map import failed: %1</translation>
    </message>
    <message>
        <source>设备地址应如 1-36,40（1-247）</source>
        <translation>Device addresses should be like 1-36,40 (1-247)</translation>
    </message>
    <message>
        <source>结束时间应晚于起始时间</source>
        <translation>The end time should be after the start time</translation>
    </message>
    <message>
        <source>导出CSV</source>
        <translation>Export CSV</translation>
    </message>
    <message>
        <source>已导出 %1 个读数到 %2</source>
        <translation>Exported %1 readings to %2</translation>
    </message>
    <message>
        <source>正在导出…</source>
        <translation>Exporting…</translation>
    </message>
    <message>
        <source>接收统计</source>
        <translation>Received</translation>
    </message>
    <message>
        <source>%1层</source>
        <comment>map row header: narrow</comment>
        <translation>L%1</translation>
    </message>
    <message>
        <source>高</source>
        <translation>High</translation>
    </message>
    <message>
        <source>中</source>
        <translation>Medium</translation>
    </message>
    <message>
        <source>低</source>
        <translation>Low</translation>
    </message>
    <message>
        <source>周温升过快</source>
        <translation>Weekly rise too fast</translation>
    </message>
    <message>
        <source>层%1</source>
        <translation>layer %1</translation>
    </message>
    <message>
        <source>；</source>
        <translation>; </translation>
    </message>
    <message>
        <source>%1 最高 %2 °C（%3），高于 %4 °C</source>
        <translation>%1 highest %2 °C (%3), above %4 °C</translation>
    </message>
    <message>
        <source>%1 %2 °C，高于 %3 °C</source>
        <translation>%1 %2 °C, above %3 °C</translation>
    </message>
    <message>
        <source>%1 最多高于层平均 %2 °C（%3）</source>
        <translation>%1 up to %2 °C above layer mean (%3)</translation>
    </message>
    <message>
        <source>%1 高于层平均 %2 °C</source>
        <translation>%1 %2 °C above layer mean</translation>
    </message>
    <message>
        <source>%1 最快 %2 °C/天（%3）</source>
        <translation>%1 fastest %2 °C/day (%3)</translation>
    </message>
    <message>
        <source>%1 %2 °C/天</source>
        <translation>%1 %2 °C/day</translation>
    </message>
    <message>
        <source>%1 最快 %2 °C/周（%3）</source>
        <translation>%1 fastest %2 °C/week (%3)</translation>
    </message>
    <message>
        <source>%1 %2 °C/周</source>
        <translation>%1 %2 °C/week</translation>
    </message>
    <message>
        <source>周温升速率</source>
        <translation>Weekly rise rate</translation>
    </message>
    <message>
        <source>故障解除所需读数</source>
        <translation>Readings to clear a fault</translation>
    </message>
    <message>
        <source>已安装测点 &quot;%1=%2&quot; 应为 电缆=层列表（如 3=1-16）</source>
        <translation>Installed points &quot;%1=%2&quot; should be cable=layer list (e.g. 3=1-16)</translation>
    </message>
    <message>
        <source>store.conf 有误，已用默认值：%1</source>
        <translation>store.conf has an error, defaults used: %1</translation>
    </message>
    <message>
        <source>各优先级：未确认/报警中</source>
        <translation>Per priority: unacknowledged/active</translation>
    </message>
    <message>
        <source>%1 — 查看模式：%2</source>
        <translation>%1 — viewer: %2</translation>
    </message>
    <message>
        <source>周温升速率 (°C/周)</source>
        <translation>Weekly rise rate (°C/week)</translation>
    </message>
    <message>
        <source>未确认</source>
        <translation>Unacknowledged</translation>
    </message>
    <message>
        <source>全部（含已解除）</source>
        <translation>All (including cleared)</translation>
    </message>
    <message>
        <source>显示：</source>
        <translation>Show:</translation>
    </message>
    <message>
        <source>优先级</source>
        <translation>Priority</translation>
    </message>
    <message>
        <source>
传感器跳变，待读数恢复</source>
        <translation>
Sensor jumped, waiting for plausible readings</translation>
    </message>
    <message>
        <source>报警：%1</source>
        <translation>Alarm: %1</translation>
    </message>
    <message>
        <source>
MQTT 服务器：%1，待发布读数：%2</source>
        <translation>
MQTT broker: %1, readings waiting to be published: %2</translation>
    </message>
    <message>
        <source>传感器操作发往设备 %1；多模块循环仍在运行，回复与循环的读数交错</source>
        <translation>Sensor operation sent to device %1; the multi-device cycle is still running, and its replies come between the cycle&apos;s readings</translation>
    </message>
    <message>
        <source>按“多模块循环”开始采集</source>
        <translation>Press &quot;Cycle all devices&quot; to start collecting</translation>
    </message>
    <message>
        <source>最近1小时</source>
        <translation>Last hour</translation>
    </message>
    <message>
        <source>最近6小时</source>
        <translation>Last 6 hours</translation>
    </message>
    <message>
        <source>跟随</source>
        <translation>Follow</translation>
    </message>
    <message>
        <source>新读数到来时延长曲线（缩放后暂停，复位后继续）</source>
        <translation>Extend the curve as new readings come (paused after a zoom, resumed by Reset)</translation>
    </message>
    <message>
        <source>正常</source>
        <translation>ok</translation>
    </message>
    <message>
        <source>上电值，可疑</source>
        <translation>power-on value, suspect</translation>
    </message>
    <message>
        <source>
通知 %1：待发送 %2，已发送 %3，过期 %4</source>
        <translation>
Notifications %1: waiting %2, sent %3, expired %4</translation>
    </message>
    <message>
        <source>无权使用采集服务的控制接口 %1：请管理员把本用户加入 vxcollect 组，然后重新登录</source>
        <translation>Not permitted to use the collecting service&apos;s control socket %1: ask an administrator to add this user to the vxcollect group, then log in again</translation>
    </message>
    <message>
        <source>采集服务 3 秒内没有回答：总线未接管，请稍后再试</source>
        <translation>The collecting service did not answer within 3 s: the bus was not taken; try again later</translation>
    </message>
    <message>
        <source>采集服务没有运行：请在“串口号”中重新选择端口</source>
        <translation>The collecting service is not running: choose the port again under &quot;Port&quot;</translation>
    </message>
    <message>
        <source>总线已由 %1 接管：请等它交还总线</source>
        <translation>The bus is held by %1: wait until it gives the bus back</translation>
    </message>
    <message>
        <source>采集服务拒绝：%1</source>
        <translation>The collecting service refused: %1</translation>
    </message>
    <message>
        <source>采集服务正在使用 %1：查看模式</source>
        <translation>The collecting service is using %1: viewer mode</translation>
    </message>
    <message>
        <source>接管总线</source>
        <translation>Take the bus</translation>
    </message>
    <message>
        <source>采集服务暂停并关闭串口，本窗口使用总线；交还后采集服务继续</source>
        <translation>The collecting service pauses and closes the port, and this window uses the bus; once it is given back the service goes on</translation>
    </message>
    <message>
        <source>已接管总线，但无法打开串口 %1：总线已交还</source>
        <translation>The bus was taken but the port %1 cannot be opened: the bus was given back</translation>
    </message>
    <message>
        <source>交还总线</source>
        <translation>Give the bus back</translation>
    </message>
    <message>
        <source>%1 — 已接管总线 %2</source>
        <translation>%1 — holding the bus %2</translation>
    </message>
    <message>
        <source>已接管总线 %1：采集服务暂停，交还后继续</source>
        <translation>Holding the bus %1: the collecting service is paused until it is given back</translation>
    </message>
    <message>
        <source>总线已交还采集服务：查看模式</source>
        <translation>The bus was given back to the collecting service: viewer mode</translation>
    </message>
    <message>
        <source>采集服务已收回总线：查看模式</source>
        <translation>The collecting service took the bus back: viewer mode</translation>
    </message>
    <message>
        <source>%1 — 采集服务正在使用 %2：查看模式</source>
        <translation>%1 — the collecting service is using %2: viewer mode</translation>
    </message>
    <message>
        <source>
网页查看：%1</source>
        <translation>
Web view: %1</translation>
    </message>
    <message>
        <source>平房仓</source>
        <translation>Flat warehouse</translation>
    </message>
    <message>
        <source>浅圆仓</source>
        <translation>Squat silo</translation>
    </message>
    <message>
        <source>立筒仓</source>
        <translation>Vertical silo</translation>
    </message>
    <message>
        <source>安全粮</source>
        <translation>Safe grain</translation>
    </message>
    <message>
        <source>半安全粮</source>
        <translation>Semi-safe grain</translation>
    </message>
    <message>
        <source>危险粮</source>
        <translation>Dangerous grain</translation>
    </message>
    <message>
        <source>仓%1</source>
        <translation>Bin %1</translation>
    </message>
    <message>
        <source>%1 %2 %3</source>
        <translation>%1 %2 %3</translation>
    </message>
    <message>
        <source>温度梯度过大</source>
        <translation>Steep gradient</translation>
    </message>
    <message>
        <source>上下层温差过大</source>
        <translation>Top and bottom far apart</translation>
    </message>
    <message>
        <source>高于同品种仓</source>
        <translation>Warmer than same grain</translation>
    </message>
    <message>
        <source>粮情检查逾期</source>
        <translation>Inspection overdue</translation>
    </message>
    <message>
        <source>%1 最大 %2 °C/m（%3），高于 %4 °C/m</source>
        <translation>%1 up to %2 °C/m (%3), above %4 °C/m</translation>
    </message>
    <message>
        <source>上下层相差 %1 °C，高于 %2 °C</source>
        <translation>top and bottom %1 °C apart, above %2 °C</translation>
    </message>
    <message>
        <source>平均高于同品种仓 %1 °C，高于 %2 °C</source>
        <translation>mean %1 °C above bins of the same grain, above %2 °C</translation>
    </message>
    <message>
        <source>已逾期 %1 天</source>
        <translation>%1 days overdue</translation>
    </message>
    <message>
        <source>温度梯度限（°C/m）</source>
        <translation>Gradient limit (°C/m)</translation>
    </message>
    <message>
        <source>上下层温差限</source>
        <translation>Top-to-bottom limit</translation>
    </message>
    <message>
        <source>同品种仓温差限</source>
        <translation>Same-grain margin</translation>
    </message>
    <message>
        <source>检查周期分界温度</source>
        <translation>Inspection interval threshold</translation>
    </message>
    <message>
        <source>安全粮检查周期（天）</source>
        <translation>Safe grain inspection interval (days)</translation>
    </message>
    <message>
        <source>安全粮高温检查周期（天）</source>
        <translation>Safe grain inspection interval when warm (days)</translation>
    </message>
    <message>
        <source>半安全粮检查周期（天）</source>
        <translation>Semi-safe grain inspection interval (days)</translation>
    </message>
    <message>
        <source>半安全粮高温检查周期（天）</source>
        <translation>Semi-safe grain inspection interval when warm (days)</translation>
    </message>
    <message>
        <source>危险粮检查周期（天）</source>
        <translation>Dangerous grain inspection interval (days)</translation>
    </message>
    <message>
        <source>危险粮高温检查周期（天）</source>
        <translation>Dangerous grain inspection interval when warm (days)</translation>
    </message>
    <message>
        <source>仓房</source>
        <translation>Depot</translation>
    </message>
    <message>
        <source>%1 秒前</source>
        <translation>%1 s ago</translation>
    </message>
    <message>
        <source>%1 分钟前</source>
        <translation>%1 min ago</translation>
    </message>
    <message>
        <source>%1 小时前</source>
        <translation>%1 h ago</translation>
    </message>
    <message>
        <source>开始降温通风温差</source>
        <translation>cooling start difference</translation>
    </message>
    <message>
        <source>继续降温通风温差</source>
        <translation>cooling continue difference</translation>
    </message>
    <message>
        <source>停止通风温度梯度（°C/m）</source>
        <translation>gradient to stop ventilating (°C/m)</translation>
    </message>
    <message>
        <source>停止通风上下层温差</source>
        <translation>top-to-bottom difference to stop ventilating</translation>
    </message>
    <message>
        <source>增湿余量（%水分）</source>
        <translation>wetting margin (% moisture)</translation>
    </message>
    <message>
        <source>雨雾湿度（%）</source>
        <translation>rain and fog humidity (%)</translation>
    </message>
    <message>
        <source>结露余量（°C）</source>
        <translation>condensation margin (°C)</translation>
    </message>
    <message>
        <source>风机最长连续运行（小时）</source>
        <translation>longest fan run (hours)</translation>
    </message>
    <message>
        <source>风机最短休息（小时）</source>
        <translation>shortest fan rest (hours)</translation>
    </message>
    <message>
        <source>联锁停机后最短停机（分钟）</source>
        <translation>shortest stop after an interlock (minutes)</translation>
    </message>
    <message>
        <source>通风判断间隔（秒）</source>
        <translation>ventilation check interval (seconds)</translation>
    </message>
    <message>
        <source>风机自动控制 &quot;%1&quot; 应为 on 或 off</source>
        <translation>automatic fan control &quot;%1&quot; should be on or off</translation>
    </message>
    <message>
        <source>%1号仓 %2 小时</source>
        <translation>bin %1 %2 h</translation>
    </message>
    <message>
        <source>；风机运行：</source>
        <translation>; fans ran: </translation>
    </message>
    <message>
        <source>空气</source>
        <translation>Air</translation>
    </message>
    <message>
        <source>同时画出外界与仓内空气的温度、湿度和露点（温湿度变送器）</source>
        <translation>Also draw the outside and headspace air: temperature, humidity and dew point (transmitters)</translation>
    </message>
    <message>
        <source>外界</source>
        <translation>outside</translation>
    </message>
    <message>
        <source>%1号仓仓内</source>
        <translation>bin %1 headspace</translation>
    </message>
    <message>
        <source>%1温度</source>
        <translation>%1 temperature</translation>
    </message>
    <message>
        <source>%1露点</source>
        <translation>%1 dew point</translation>
    </message>
    <message>
        <source>%1湿度</source>
        <translation>%1 humidity</translation>
    </message>
    <message>
        <source>风机由采集服务控制，而采集服务没有运行</source>
        <translation>The fans are driven by the collecting service, which is not running</translation>
    </message>
</context>
<context>
    <name>vx::BinPlan</name>
    <message>
        <source>电缆之间为插值估算</source>
        <translation>Between cables: interpolated estimate</translation>
    </message>
</context>
<context>
    <name>vx::BinSection</name>
    <message>
        <source>这一行没有电缆</source>
        <translation>No cables in this row</translation>
    </message>
    <message>
        <source>列%1</source>
        <translation>Col %1</translation>
    </message>
</context>
<context>
    <name>vx::DepotOverview</name>
    <message>
        <source>最高 %1 °C  平均 %2 °C</source>
        <translation>Max %1 °C  mean %2 °C</translation>
    </message>
    <message>
        <source>无温度</source>
        <translation>No temperature</translation>
    </message>
    <message>
        <source>报警 高%1 中%2 低%3</source>
        <translation>Alarms high %1 medium %2 low %3</translation>
    </message>
    <message>
        <source>无响应电缆 %1/%2</source>
        <translation>Silent cables %1/%2</translation>
    </message>
    <message>
        <source>最新读数 %1</source>
        <translation>Latest reading %1</translation>
    </message>
    <message>
        <source>%1 °C %2%RH 露点 %3 °C</source>
        <translation>%1 °C %2%RH dew point %3 °C</translation>
    </message>
    <message>
        <source>仓内 %1</source>
        <translation>headspace %1</translation>
    </message>
    <message>
        <source>可以通风</source>
        <translation>ventilate</translation>
    </message>
    <message>
        <source>不宜通风</source>
        <translation>do not ventilate</translation>
    </message>
    <message>
        <source>  风机运行</source>
        <translation>  fans running</translation>
    </message>
</context>
<context>
    <name>vx::DepotTab</name>
    <message>
        <source>返回总览</source>
        <translation>Back to overview</translation>
    </message>
    <message>
        <source>层%1</source>
        <translation>Layer %1</translation>
    </message>
    <message>
        <source>插值（估算）</source>
        <translation>Interpolate (estimate)</translation>
    </message>
    <message>
        <source>剖面</source>
        <translation>Section</translation>
    </message>
    <message>
        <source>错误：%1（已略去）</source>
        <translation>Error: %1 (left out)</translation>
    </message>
    <message>
        <source>提示：%1</source>
        <translation>Note: %1</translation>
    </message>
    <message>
        <source>  入仓 %1</source>
        <translation>  intake %1</translation>
    </message>
    <message>
        <source>第%1圈</source>
        <translation>Ring %1</translation>
    </message>
    <message>
        <source>第%1行</source>
        <translation>Row %1</translation>
    </message>
    <message>
        <source>层</source>
        <translation>Layer</translation>
    </message>
    <message>
        <source>平均</source>
        <translation>Mean</translation>
    </message>
    <message>
        <source>最高</source>
        <translation>Max</translation>
    </message>
    <message>
        <source>最低</source>
        <translation>Min</translation>
    </message>
    <message>
        <source>第%1圈 %2°</source>
        <translation>ring %1 %2°</translation>
    </message>
    <message>
        <source>第%1行第%2列</source>
        <translation>row %1 column %2</translation>
    </message>
    <message>
        <source>全仓 平均 %1 °C，最低 %2 °C</source>
        <translation>Whole bin: mean %1 °C, min %2 °C</translation>
    </message>
    <message>
        <source>最高 %1 °C：电缆 %2（%3）层%4，深 %5 m</source>
        <translation>Max %1 °C: cable %2 (%3) layer %4, %5 m deep</translation>
    </message>
    <message>
        <source>无温度</source>
        <translation>No temperature</translation>
    </message>
    <message>
        <source>上下层温差 %1 °C</source>
        <translation>Top minus bottom %1 °C</translation>
    </message>
    <message>
        <source>同品种其他 %1 个仓平均 %2 °C，本仓高出 %3 °C</source>
        <translation>%1 other bins of this grain: mean %2 °C; this bin %3 °C above</translation>
    </message>
    <message>
        <source>电缆 %1 根，无响应 %2 根</source>
        <translation>%1 cables, %2 silent</translation>
    </message>
    <message>
        <source>记录粮情检查</source>
        <translation>Record inspection</translation>
    </message>
    <message>
        <source>导出检查记录</source>
        <translation>Export inspection book</translation>
    </message>
    <message>
        <source>导出失败：%1</source>
        <translation>Export failed: %1</translation>
    </message>
    <message>
        <source>检查日期</source>
        <translation>Inspection date</translation>
    </message>
    <message>
        <source>检查人</source>
        <translation>Inspector</translation>
    </message>
    <message>
        <source>检查情况</source>
        <translation>Observations</translation>
    </message>
    <message>
        <source>请填写检查人</source>
        <translation>Inspector required</translation>
    </message>
    <message>
        <source>编辑仓房文件</source>
        <translation>Edit depot file</translation>
    </message>
    <message>
        <source>%1 个仓，%2 根电缆，无问题</source>
        <translation>%1 bins, %2 cables, no problems</translation>
    </message>
    <message>
        <source>保存失败：%1</source>
        <translation>Save failed: %1</translation>
    </message>
    <message>
        <source>外界 %1</source>
        <translation>outside %1</translation>
    </message>
    <message>
        <source>仓内 %1</source>
        <translation>headspace %1</translation>
    </message>
    <message>
        <source>粮食水分 %1%（%2 化验）</source>
        <translation>grain moisture %1% (lab, %2)</translation>
    </message>
    <message>
        <source>可以通风</source>
        <translation>ventilate</translation>
    </message>
    <message>
        <source>不宜通风</source>
        <translation>do not ventilate</translation>
    </message>
    <message>
        <source>风机 %1%2</source>
        <translation>fans %1%2</translation>
    </message>
    <message>
        <source>运行</source>
        <translation>running</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>stopped</translation>
    </message>
    <message>
        <source>（手动）</source>
        <translation> (manual)</translation>
    </message>
    <message>
        <source>（自动）</source>
        <translation> (automatic)</translation>
    </message>
    <message>
        <source>风机</source>
        <translation>Fans</translation>
    </message>
    <message>
        <source>手动开</source>
        <translation>On by hand</translation>
    </message>
    <message>
        <source>手动关</source>
        <translation>Off by hand</translation>
    </message>
    <message>
        <source>恢复自动</source>
        <translation>Back to automatic</translation>
    </message>
    <message>
        <source>已发出，结果记入风机日志</source>
        <translation>Sent; the fan log records how it went</translation>
    </message>
</context>
</TS>
