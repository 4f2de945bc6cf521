<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>关于 Facetta</source>
        <translation>About Facetta</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>作者网站：%1</source>
        <translation>Website: %1</translation>
    </message>
    <message>
        <source>本程序使用 %1 开发</source>
        <translation>Made with %1</translation>
    </message>
</context>
<context>
    <name>CFacettaView</name>
    <message>
        <source>内存不足。</source>
        <translation>Out of memory.</translation>
    </message>
    <message>
        <source>正在生成</source>
        <translation>Generating</translation>
    </message>
    <message>
        <source>PNG图片(*.png)</source>
        <translation>PNG picture (*.png)</translation>
    </message>
    <message>
        <source>JPG图片(*.jpg)</source>
        <translation>JPG picture (*.jpg)</translation>
    </message>
    <message>
        <source>GIF图片(*.gif)</source>
        <translation>GIF picture (*.gif)</translation>
    </message>
    <message>
        <source>BMP位图(*.bmp)</source>
        <translation>BMP bitmap (*.bmp)</translation>
    </message>
    <message>
        <source>保存图片错误，错误代码：%1/%2</source>
        <translation>Error saving the picture, error code: %1/%2</translation>
    </message>
    <message>
        <source>剪贴板里的文字不是配方，图片没有改变。
%1</source>
        <translation>The text on the clipboard is not a recipe; the picture is unchanged.
%1</translation>
    </message>
    <message>
        <source>%1 x %2 的图片太大，无法生成</source>
        <translation>a %1 x %2 picture is too large to make</translation>
    </message>
    <message>
        <source>多边形大小 %1 在 %2 x %3 的图片上生成不了网格</source>
        <translation>polygon size %1 makes no mesh on a %2 x %3 picture</translation>
    </message>
    <message>
        <source>配方没有应用，图片没有改变。
%1</source>
        <translation>The recipe was not applied; the picture is unchanged.
%1</translation>
    </message>
    <message>
        <source>背景图“%1”不存在，图片没有背景图。</source>
        <translation>The background picture “%1” does not exist; the picture has no background picture.</translation>
    </message>
    <message>
        <source>无法保存桌面背景图片：%1</source>
        <translation>Cannot save the desktop background picture: %1</translation>
    </message>
    <message>
        <source>未找到</source>
        <translation>none found</translation>
    </message>
    <message>
        <source>无法设置桌面背景。

找到的桌面：%1
失败原因：%2
解决办法：%3

图片已保存：%4</source>
        <translation>Cannot set the desktop background.

Desktop found: %1
What failed: %2
What to do: %3

The picture is saved: %4</translation>
    </message>
    <message>
        <source>已设为 %1 的桌面背景。

图片：%2</source>
        <translation>Set as the %1 desktop background.

Picture: %2</translation>
    </message>
    <message>
        <source>图片文件(*.jpg;*.png;*.gif;*.bmp;*.svg)</source>
        <translation>Picture files (*.jpg;*.png;*.gif;*.bmp;*.svg)</translation>
    </message>
    <message>
        <source>SVG矢量图(*.svg)</source>
        <translation>SVG vector picture (*.svg)</translation>
    </message>
    <message>
        <source>背景图无法嵌入SVG文件，图片未保存。</source>
        <translation>The background picture cannot be embedded in the SVG file; the picture was not saved.</translation>
    </message>
    <message>
        <source>正在保存图片……</source>
        <translation>Saving the picture…</translation>
    </message>
</context>
<context>
    <name>CMainFrame</name>
    <message>
        <source>适应窗口</source>
        <translation>Fit window</translation>
    </message>
    <message>
        <source>属性</source>
        <translation>Properties</translation>
    </message>
    <message>
        <source>应用程序外观(&amp;A)</source>
        <translation>&amp;Application Look</translation>
    </message>
    <message>
        <source>Office 2007(&amp;7)</source>
        <translation>Office 200&amp;7</translation>
    </message>
    <message>
        <source>文件(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>视图(&amp;V)</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>工具栏和停靠窗口(&amp;T)</source>
        <translation>&amp;Toolbars and Docking Windows</translation>
    </message>
    <message>
        <source>帮助(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>窗口(&amp;W)</source>
        <translation>&amp;Window</translation>
    </message>
    <message>
        <source>活动文档</source>
        <translation>Active documents</translation>
    </message>
</context>
<context>
    <name>CPrintHelper</name>
    <message>
        <source>命令失败。</source>
        <translation>Command failed.</translation>
    </message>
</context>
<context>
    <name>CPropertiesWnd</name>
    <message>
        <source>纯色</source>
        <translation>Solid colour</translation>
    </message>
    <message>
        <source>左右渐变</source>
        <translation>Left to right</translation>
    </message>
    <message>
        <source>左中右渐变</source>
        <translation>Left, middle, right</translation>
    </message>
    <message>
        <source>上下渐变</source>
        <translation>Top to bottom</translation>
    </message>
    <message>
        <source>上中下渐变</source>
        <translation>Top, middle, bottom</translation>
    </message>
    <message>
        <source>从左上到右下</source>
        <translation>Top left to bottom right</translation>
    </message>
    <message>
        <source>从左下到右上</source>
        <translation>Bottom left to top right</translation>
    </message>
    <message>
        <source>图片文件|*.jpg;*.bmp;*.gif;*.png|JPG图片(*.jpg)|*.jpg|BMP图片(*.bmp)|*.bmp|PNG图片(*.png)|*.png|GIF图片(*.gif)|*.gif|</source>
        <translation>Picture files|*.jpg;*.bmp;*.gif;*.png|JPG picture (*.jpg)|*.jpg|BMP picture (*.bmp)|*.bmp|PNG picture (*.png)|*.png|GIF picture (*.gif)|*.gif|</translation>
    </message>
    <message>
        <source>图片大小</source>
        <translation>Picture size</translation>
    </message>
    <message>
        <source>宽度</source>
        <translation>Width</translation>
    </message>
    <message>
        <source>指定图片的宽度(像素)</source>
        <translation>The picture&apos;s width (pixels)</translation>
    </message>
    <message>
        <source>高度</source>
        <translation>Height</translation>
    </message>
    <message>
        <source>指定图片的高度(像素)</source>
        <translation>The picture&apos;s height (pixels)</translation>
    </message>
    <message>
        <source>分辨率</source>
        <translation>Resolution</translation>
    </message>
    <message>
        <source>指定图片的分辨率(DPI)</source>
        <translation>The picture&apos;s resolution (DPI)</translation>
    </message>
    <message>
        <source>质量</source>
        <translation>Quality</translation>
    </message>
    <message>
        <source>JPG图片优化质量</source>
        <translation>JPG picture quality</translation>
    </message>
    <message>
        <source>图片设置</source>
        <translation>Picture settings</translation>
    </message>
    <message>
        <source>背景模式</source>
        <translation>Background mode</translation>
    </message>
    <message>
        <source>指定背景填充模式</source>
        <translation>How the background is filled</translation>
    </message>
    <message>
        <source>背景色</source>
        <translation>Background colour</translation>
    </message>
    <message>
        <source>指定图片的背景颜色</source>
        <translation>The picture&apos;s background colour</translation>
    </message>
    <message>
        <source>其他...</source>
        <translation>Other...</translation>
    </message>
    <message>
        <source>渐变色1</source>
        <translation>Gradient colour 1</translation>
    </message>
    <message>
        <source>指定渐变开始颜色</source>
        <translation>The gradient&apos;s start colour</translation>
    </message>
    <message>
        <source>渐变色2</source>
        <translation>Gradient colour 2</translation>
    </message>
    <message>
        <source>指定渐变结束颜色</source>
        <translation>The gradient&apos;s end colour</translation>
    </message>
    <message>
        <source>背景图</source>
        <translation>Background picture</translation>
    </message>
    <message>
        <source>背景图文件路径</source>
        <translation>Path of the background picture file</translation>
    </message>
    <message>
        <source>多边形大小</source>
        <translation>Polygon size</translation>
    </message>
    <message>
        <source>自动</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>指定多边形大小</source>
        <translation>The size of the polygons</translation>
    </message>
    <message>
        <source>多边形颜色</source>
        <translation>Polygon colour</translation>
    </message>
    <message>
        <source>指定多边形颜色</source>
        <translation>The colour of the polygons</translation>
    </message>
    <message>
        <source>透明度1</source>
        <comment>start</comment>
        <translation>Start opacity</translation>
    </message>
    <message>
        <source>多边形起始透明度</source>
        <translation>Opacity at one end of the polygons&apos; range</translation>
    </message>
    <message>
        <source>透明度1</source>
        <comment>end</comment>
        <translation>End opacity</translation>
    </message>
    <message>
        <source>多边形结束透明度</source>
        <translation>Opacity at the other end of the polygons&apos; range</translation>
    </message>
    <message>
        <source>线条颜色</source>
        <translation>Line colour</translation>
    </message>
    <message>
        <source>多边形边缘线条颜色</source>
        <translation>Colour of the polygons&apos; outlines</translation>
    </message>
    <message>
        <source>透明度</source>
        <translation>Line opacity</translation>
    </message>
    <message>
        <source>多边形边缘线条透明度</source>
        <translation>Opacity of the polygons&apos; outlines</translation>
    </message>
    <message>
        <source>透明</source>
        <translation>Transparent</translation>
    </message>
    <message>
        <source>变体</source>
        <translation>Variant</translation>
    </message>
    <message>
        <source>种子</source>
        <translation>Seed</translation>
    </message>
    <message>
        <source>网格的种子(0-4294967295)，输入种子用当前设置生成它的网格</source>
        <translation>The mesh seed (0-4294967295); type a seed to make its mesh with the current settings</translation>
    </message>
    <message>
        <source>种子必须是 0 到 4294967295 之间的整数：“%1”</source>
        <translation>The seed must be a whole number from 0 to 4294967295: “%1”</translation>
    </message>
</context>
<context>
    <name>CWindowsDialog</name>
    <message>
        <source>窗口</source>
        <translation>Windows</translation>
    </message>
    <message>
        <source>激活(&amp;A)</source>
        <translation>&amp;Activate</translation>
    </message>
    <message>
        <source>关闭窗口(&amp;C)</source>
        <translation>&amp;Close Window(s)</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>Commands</name>
    <message>
        <source>新建(&amp;N)	Ctrl+N</source>
        <translation>&amp;New	Ctrl+N</translation>
    </message>
    <message>
        <source>创建新文档</source>
        <translation>Create a new document</translation>
    </message>
    <message>
        <source>新建</source>
        <translation>New</translation>
    </message>
    <message>
        <source>关闭(&amp;C)</source>
        <translation>&amp;Close</translation>
    </message>
    <message>
        <source>关闭活动文档</source>
        <translation>Close the active document</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>保存(&amp;S)	Ctrl+S</source>
        <translation>&amp;Save	Ctrl+S</translation>
    </message>
    <message>
        <source>保存活动文档</source>
        <translation>Save the active document</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>另存为(&amp;A)...</source>
        <translation>Save &amp;As...</translation>
    </message>
    <message>
        <source>用新名称保存活动文档</source>
        <translation>Save the active document with a new name</translation>
    </message>
    <message>
        <source>另存为</source>
        <translation>Save As</translation>
    </message>
    <message>
        <source>生成预览</source>
        <translation>Generate Preview</translation>
    </message>
    <message>
        <source>预览</source>
        <translation>Preview</translation>
    </message>
    <message>
        <source>复制图片</source>
        <translation>Copy Picture</translation>
    </message>
    <message>
        <source>复制图片到剪贴板</source>
        <translation>Copy the picture to the clipboard</translation>
    </message>
    <message>
        <source>打印(&amp;P)...	Ctrl+P</source>
        <translation>&amp;Print...	Ctrl+P</translation>
    </message>
    <message>
        <source>打印活动文档</source>
        <translation>Print the active document</translation>
    </message>
    <message>
        <source>打印</source>
        <translation>Print</translation>
    </message>
    <message>
        <source>打印预览(&amp;V)</source>
        <translation>Print Pre&amp;view</translation>
    </message>
    <message>
        <source>显示整页</source>
        <translation>Display full pages</translation>
    </message>
    <message>
        <source>打印预览</source>
        <translation>Print Preview</translation>
    </message>
    <message>
        <source>打印设置(&amp;R)...</source>
        <translation>P&amp;rint Setup...</translation>
    </message>
    <message>
        <source>更改打印机选项和打印选项</source>
        <translation>Change the printer and printing options</translation>
    </message>
    <message>
        <source>打印设置</source>
        <translation>Print Setup</translation>
    </message>
    <message>
        <source>退出(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>退出应用程序；提示保存文档</source>
        <translation>Quit the application; prompts to save documents</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>&lt;占位符&gt;</source>
        <translation>&lt;placeholder&gt;</translation>
    </message>
    <message>
        <source>状态栏(&amp;S)</source>
        <translation>&amp;Status Bar</translation>
    </message>
    <message>
        <source>显示或隐藏状态栏</source>
        <translation>Show or hide the status bar</translation>
    </message>
    <message>
        <source>切换状态栏</source>
        <translation>Toggle Status Bar</translation>
    </message>
    <message>
        <source>Windows 2000(&amp;2)</source>
        <translation>Windows &amp;2000</translation>
    </message>
    <message>
        <source>Office XP(&amp;X)</source>
        <translation>Office &amp;XP</translation>
    </message>
    <message>
        <source>Windows XP(&amp;W)</source>
        <translation>&amp;Windows XP</translation>
    </message>
    <message>
        <source>Office 2003(&amp;3)</source>
        <translation>Office 200&amp;3</translation>
    </message>
    <message>
        <source>Visual Studio.NET 2005(&amp;5)</source>
        <translation>Visual Studio.NET 200&amp;5</translation>
    </message>
    <message>
        <source>蓝色样式(&amp;B)</source>
        <translation>&amp;Blue Style</translation>
    </message>
    <message>
        <source>黑色样式(&amp;L)</source>
        <translation>B&amp;lack Style</translation>
    </message>
    <message>
        <source>银色样式(&amp;S)</source>
        <translation>&amp;Silver Style</translation>
    </message>
    <message>
        <source>水绿色样式(&amp;A)</source>
        <translation>&amp;Aqua Style</translation>
    </message>
    <message>
        <source>新建窗口(&amp;N)</source>
        <translation>&amp;New Window</translation>
    </message>
    <message>
        <source>为活动文档打开另一个窗口</source>
        <translation>Open another window for the active document</translation>
    </message>
    <message>
        <source>新建窗口</source>
        <translation>New Window</translation>
    </message>
    <message>
        <source>关闭窗口(&amp;C)</source>
        <translation>&amp;Close Window</translation>
    </message>
    <message>
        <source>关闭全部</source>
        <translation>Close All</translation>
    </message>
    <message>
        <source>窗口(&amp;W)...</source>
        <translation>&amp;Windows...</translation>
    </message>
    <message>
        <source>缩放比例</source>
        <translation>Zoom level</translation>
    </message>
    <message>
        <source>缩放</source>
        <translation>Zoom</translation>
    </message>
    <message>
        <source>作者网站(&amp;W)...</source>
        <translation>&amp;Website...</translation>
    </message>
    <message>
        <source>访问作者网站</source>
        <translation>Visit the maker&apos;s website</translation>
    </message>
    <message>
        <source>网站</source>
        <translation>Website</translation>
    </message>
    <message>
        <source>关于(&amp;A)...</source>
        <translation>&amp;About Facetta...</translation>
    </message>
    <message>
        <source>显示程序信息、版本号和版权</source>
        <translation>Display program information, version number and copyright</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>就绪</source>
        <translation>Ready</translation>
    </message>
    <message>
        <source>标准</source>
        <translation>Standard</translation>
    </message>
    <message>
        <source>图片</source>
        <translation>Picture</translation>
    </message>
    <message>
        <source>上一个变体</source>
        <translation>Previous Variant</translation>
    </message>
    <message>
        <source>显示这个窗口的上一个变体</source>
        <translation>Show this window&apos;s previous variant</translation>
    </message>
    <message>
        <source>下一个变体</source>
        <translation>Next Variant</translation>
    </message>
    <message>
        <source>显示这个窗口的下一个变体</source>
        <translation>Show this window&apos;s next variant</translation>
    </message>
    <message>
        <source>复制配方</source>
        <translation>Copy Recipe</translation>
    </message>
    <message>
        <source>把生成这张图片的 facetta-cli 命令行复制到剪贴板</source>
        <translation>Copy the facetta-cli command line that makes this picture to the clipboard</translation>
    </message>
    <message>
        <source>粘贴配方</source>
        <translation>Paste Recipe</translation>
    </message>
    <message>
        <source>按剪贴板里的配方生成图片，作为新的变体</source>
        <translation>Make the picture from the recipe on the clipboard, as a new variant</translation>
    </message>
    <message>
        <source>适应屏幕</source>
        <translation>Fit Screen</translation>
    </message>
    <message>
        <source>将图片大小设为窗口所在屏幕的实际像素大小</source>
        <translation>Set the picture size to the real pixel size of the window&apos;s screen</translation>
    </message>
    <message>
        <source>适应所有屏幕</source>
        <translation>Fit All Screens</translation>
    </message>
    <message>
        <source>将图片大小设为所有屏幕合起来的实际像素大小</source>
        <translation>Set the picture size to the real pixel size of all screens together</translation>
    </message>
    <message>
        <source>设为桌面背景</source>
        <translation>Set as Desktop Background</translation>
    </message>
    <message>
        <source>以原尺寸保存图片并设为桌面背景</source>
        <translation>Save the full-size picture and set it as the desktop background</translation>
    </message>
</context>
</TS>
